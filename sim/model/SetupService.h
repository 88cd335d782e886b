// The receiver's local setup service (the HTTP endpoint the daemon reads its consent record
// from): what it answers, whether it answers at all, and a record of each request.
#pragma once

#include <json/json.h>

#include <mutex>
#include <string>

#include "sim/model/Journal.h"
#include "sim/model/Sequencer.h"

namespace orvix::model {

struct SetupAnswer {
    // False: the service does not answer (connection refused).
    bool up = true;
    // True: requests are accepted and read but not answered for as long as it stays so, the
    // way a wedged receiver leaves a client that set no time-out waiting.
    bool hang = false;
    int status = 200;
    std::string body = "{}";
};

class SetupService {
public:
    explicit SetupService(Sequencer& sequencer);

    // Up, status 200, body "{}", empty log.
    void reset();

    // The body is kept as given, valid JSON or not, so bad answers can be served too.
    void setBody(const std::string& body);
    void setStatus(int status);
    // Either way a hang ends: up answers again, down refuses connections.
    void setUp(bool up);
    // Listening, and holding every request without an answer until setUp.
    void setHang();
    SetupAnswer current() const;

    // A request arrived for path: records it and returns what to answer.
    SetupAnswer answer(const std::string& path);

    // [{"seq":N,"path":"...","up":true,"status":200}], with "hang":true for a request that was
    // held instead of answered.
    const Journal& journal() const { return mJournal; }

private:
    Journal mJournal;
    // Guards everything below.
    mutable std::mutex mLock;
    SetupAnswer mAnswer;
};

}  // namespace orvix::model
