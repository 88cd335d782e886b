// The device message bus: the current payload of each MID, the listeners of each client and
// the record of every write.
//
// A client is one bus connection (one VEMOHelper of the daemon, or one connection to the
// simulator). A write returns the alerts the transport must deliver: one per other client
// registered for the MID, each with a snapshot of the payload, so that a burst of writes on
// one MID still shows every payload to a listener that reads it during its alert.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/model/Journal.h"
#include "sim/model/ModelTypes.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

// writeRemoteMessage goes to the bus's remote clients, writeLocalMessage to the device's own.
enum class Scope { Remote, Local };

inline const char* scopeName(Scope scope) {
    return scope == Scope::Remote ? "remote" : "local";
}

struct BusAlert {
    std::string client;
    int32_t mid = 0;
    std::string payload;
};

struct BusWrite {
    Stamp stamp;
    int32_t mid = 0;
    std::string payload;
    Origin from = Origin::App;
    Scope scope = Scope::Remote;
    // The writing client; empty for app writes made from outside (test, control CLI).
    std::string client;
};

class MessageBus {
public:
    explicit MessageBus(Sequencer& sequencer);

    // Reachable again, no payloads, no listeners, empty logs. Client ids keep counting, so an
    // id never names two clients in one process.
    void reset();

    // A fresh client id, "vemo-N".
    std::string newClientId();

    void setReachable(bool reachable);
    bool reachable() const;

    // Adds the MIDs the client does not have yet, keeping registration order. False when the
    // bus is unreachable.
    bool registerListener(const std::string& client, const std::vector<int32_t>& mids);
    // Removes the MIDs; a client left without MIDs is no listener any more.
    void unregisterListener(const std::string& client, const std::vector<int32_t>& mids);
    // The client is gone (helper destroyed, connection closed): all its MIDs go.
    void dropClient(const std::string& client);
    std::vector<int32_t> midsOf(const std::string& client) const;

    // Stores payload as the MID's current payload, records the write and fills alerts with
    // what the transport must deliver. False (nothing stored or recorded) when unreachable.
    bool write(const std::string& client, Origin from, Scope scope, int32_t mid,
               const std::string& payload, std::vector<BusAlert>* alerts);
    // The MID's current payload ("" when never written); false when unreachable.
    bool read(int32_t mid, std::string* payload) const;
    // The MID's current payload whatever the reachability (for tests and the CLI).
    std::string payload(int32_t mid) const;

    std::vector<BusWrite> writes() const;
    // The last write on mid, if any.
    std::optional<BusWrite> lastWrite(int32_t mid) const;

    // {"mid":M,"payload":"..."}
    Json::Value readJson(int32_t mid) const;
    // [{"client":"...","mids":[...]}], in order of first registration.
    Json::Value listenersJson() const;
    // Its log: [{"seq":N,"mid":M,"payload":"...","from":"daemon"|"app","scope":"remote"|"local"}],
    // with registrations and reachability changes in the timeline only.
    const Journal& journal() const { return mJournal; }

private:
    struct Listener {
        std::string client;
        std::vector<int32_t> mids;
    };
    Journal mJournal;
    // Guards everything below.
    mutable std::mutex mLock;
    bool mReachable = true;
    uint64_t mLastClientId = 0;
    std::map<int32_t, std::string> mPayloads;
    std::vector<Listener> mListeners;
    std::vector<BusWrite> mWrites;
};

}  // namespace orvix::model
