// The device's persistent settings store: key -> text value, with a record of every change.
//
// It can persist itself to a file (a JSON object, written to a temporary file beside it and
// renamed over it, so a crash never leaves half a file behind).
#pragma once

#include <json/json.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/model/Journal.h"
#include "sim/model/ModelTypes.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

struct SettingChange {
    Stamp stamp;
    std::string key;
    std::string value;
    Origin from = Origin::App;
};

class SettingsStore {
public:
    explicit SettingsStore(Sequencer& sequencer);

    // No values, empty log. The persist path, being where the store lives rather than what it
    // holds, is kept.
    void reset();

    // False (value untouched) when the key is unset.
    bool get(const std::string& key, std::string* value) const;
    // The key's value, "" when unset.
    std::string value(const std::string& key) const;

    // Stores and records the change; with a persist path, also saves. False only when that
    // save failed (the value is stored all the same).
    bool set(const std::string& key, const std::string& value, Origin from);

    // Replaces the contents with the file's. A missing file is an empty store (true); a file
    // that is not a JSON object of strings leaves the store as it was (false, error says
    // why). Members whose value is not a string are skipped.
    bool load(const std::string& path, std::string* error);
    // From now on every set() saves to path ("" stops it).
    void setPersistPath(const std::string& path);

    std::vector<SettingChange> changes() const;

    // {"key":"...","value":"..."}, value "" when unset.
    Json::Value getJson(const std::string& key) const;
    // [{"seq":N,"op":"set","key":"...","value":"...","from":"daemon"|"app"}]
    const Journal& journal() const { return mJournal; }

private:
    bool saveLocked(const std::string& path, std::string* error) const;

    Journal mJournal;
    // Guards everything below; file writes happen under it so saves never interleave.
    mutable std::mutex mLock;
    std::map<std::string, std::string> mValues;
    std::vector<SettingChange> mChanges;
    std::string mPersistPath;
};

}  // namespace orvix::model
