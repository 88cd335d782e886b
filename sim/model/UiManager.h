// The UI manager service: available or not, and a record of every now-playing update
// ("metadata") and source-release update ("clear") with its fields in the order they were set.
//
// jsoncpp keeps object members sorted by name, so the log's JSON cannot show the field order;
// logText() writes the same log as JSON text with the fields in their real order, and
// updates() gives them typed.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/model/Journal.h"
#include "sim/model/ModelTypes.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

struct UiField {
    enum class Type { Int32, Double, String };
    std::string key;
    Type type = Type::String;
    int32_t i32 = 0;
    double d = 0.0;
    std::string s;

    static UiField int32(const std::string& key, int32_t value);
    static UiField real(const std::string& key, double value);
    static UiField string(const std::string& key, const std::string& value);

    Json::Value json() const;
};

struct UiUpdate {
    enum class Kind { Metadata, Clear };
    Stamp stamp;
    Kind kind = Kind::Metadata;
    std::vector<UiField> fields;
};

class UiManager {
public:
    explicit UiManager(Sequencer& sequencer);

    // Up, empty log.
    void reset();

    void setUp(bool up);
    bool up() const;

    // Each records the update and returns true; false (nothing recorded) while down.
    bool metadata(const std::vector<UiField>& fields);
    bool clear(const std::vector<UiField>& fields);

    std::vector<UiUpdate> updates() const;

    // [{"seq":N,"op":"metadata"|"clear","fields":{...}}], fields in name order.
    const Journal& journal() const { return mJournal; }
    // The same array as one line of JSON text, fields in the order they were set.
    std::string logText() const;

private:
    bool record(UiUpdate::Kind kind, const std::vector<UiField>& fields);

    Journal mJournal;
    // Guards everything below.
    mutable std::mutex mLock;
    bool mUp = true;
    std::vector<UiUpdate> mUpdates;
};

}  // namespace orvix::model
