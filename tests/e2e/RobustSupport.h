// What the hostile-input, fault and load tests share: batches of CLI commands in one
// connection, GET round trips that prove the looper and the bus still work, the daemon's own
// syslog lines, and its thread, descriptor and memory figures from /proc.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/e2e/E2eSupport.h"

namespace orvix::e2e {

// A word for a batch line that stands for text exactly, whatever bytes it holds.
std::string BatchWord(const std::string& text);
// A GET request from uuid, as the payload of MID 571 and as a batch line that writes it.
std::string GetRequest(const std::string& uuid);
std::string GetLine(const std::string& uuid);

struct ProcessFigures {
    int threads = -1;
    long rssKiB = -1;
    int fds = -1;
    std::vector<std::string> threadNames;
};
// False when the process is gone.
bool ReadProcessFigures(pid_t pid, ProcessFigures* out);
std::string Describe(const ProcessFigures& figures);

class RobustTest : public E2eTest {
protected:
    // On a failure, the end of the simulator's timeline goes with the report.
    void TearDown() override;

    // A command straight on the control socket, as `orvixsim ARGS...` sends it but without a
    // process of its own (many of them, under a sanitizer, would cost most of a test's time):
    // its result, expected to be there. ctlResult leaves the judging to the caller.
    Json::Value ctl(const std::vector<std::string>& argv);
    bool ctlResult(const std::vector<std::string>& argv, Json::Value* result, std::string* error);
    bool waitCtl(const std::vector<std::string>& argv,
                 const std::function<bool(const Json::Value&)>& pred,
                 std::chrono::milliseconds timeout = 10s);
    // `orvixsim batch` over lines (kept in a file of the test's folder).
    CliResult batch(const std::vector<std::string>& lines);
    // Expects the batch to run whole; returns its results.
    Json::Value batchOk(const std::vector<std::string>& lines);
    // Sends a GET request for uuid on MID 571 and waits for its reply on MID 572. Everything
    // the looper had to do before is done then.
    bool answersGet(const std::string& uuid, std::chrono::milliseconds timeout = 10s);
    // Waits for the reply to uuid's GET to be the latest on MID 572, and for its log line, so
    // that every line the daemon logged before is in the syslog view too.
    bool waitReply(const std::string& uuid, std::chrono::milliseconds timeout = 10s);
    // The running daemon's syslog lines whose text starts with prefix.
    std::vector<Json::Value> daemonLines(const std::string& prefix);
    // Waits until at least count such lines are there.
    bool waitDaemonLines(const std::string& prefix, size_t count,
                         std::chrono::milliseconds timeout = 10s);
    // Waits until the cast log holds at least count calls of op.
    bool waitCastOps(const std::string& op, size_t count, std::chrono::milliseconds timeout = 10s);
    // Waits until the source log holds at least count calls of op.
    bool waitSourceOps(const std::string& op, size_t count,
                       std::chrono::milliseconds timeout = 10s);
    // The daemon's replies on MID 572 in the bus log, in order.
    std::vector<std::string> daemonReplies();

    int mBatches = 0;
};

}  // namespace orvix::e2e
