// End-to-end tests run the real orvixsim and orvixcast binaries inside the private sandbox
// (scripts/in-sandbox.sh) and drive them through the simulator's control CLI, as a person
// or a script would. Each test gets its own run folder and state folder, so a fresh
// simulator; the fixed paths (/tmp/cast-control, /dev/log, port 8008, /data/time) are the
// sandbox's own.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace orvix::e2e {

using namespace std::chrono_literals;

// Checks pred every 20 ms until it holds or the deadline passes.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s);

// A child process with its output in a log file; killed and reaped by the destructor.
class Child {
public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool start(const std::vector<std::string>& argv, const std::string& logPath);
    pid_t pid() const { return mPid; }
    // Reaps it when it has ended; false then.
    bool running();
    // True when it ended within the time; exitCode() then says how.
    bool waitExit(std::chrono::milliseconds timeout);
    // The exit status, or 128 + the signal that ended it.
    int exitCode() const { return mExitCode; }
    // sig, then SIGKILL when it has not ended after 5 s.
    void stop(int sig);

private:
    pid_t mPid = -1;
    int mExitCode = -1;
};

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
    Json::Value json;  // stdout parsed, null when it is no JSON
};

// The entries of a log array whose "op" is op.
std::vector<Json::Value> WithOp(const Json::Value& log, const std::string& op);
// The syslog entry whose text is exactly text; null when there is none.
Json::Value SyslogLine(const Json::Value& syslog, const std::string& text);

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // orvixsim run --syslog --state <the test's state folder>; waits until it serves.
    void startSim();
    void stopSim(int sig = SIGTERM);
    // orvixcast, started with the test's environment.
    void startDaemon();
    // Both, and waits until the daemon's controller thread has settled.
    void startAll();

    CliResult cli(const std::vector<std::string>& args);
    // Runs args, expects exit 0 and one JSON document, returns it.
    Json::Value json(const std::vector<std::string>& args);
    // Polls `args` until pred holds for its JSON output.
    bool waitJson(const std::vector<std::string>& args,
                  const std::function<bool(const Json::Value&)>& pred,
                  std::chrono::milliseconds timeout = 5s);
    // Polls `syslog` until a line with text appears; returns it (null on time-out).
    Json::Value waitSyslog(const std::string& text, std::chrono::milliseconds timeout = 5s);
    // Polls `cast log` until an entry for op appears.
    bool waitCastOp(const std::string& op, std::chrono::milliseconds timeout = 5s);

    std::string readFile(const std::string& path) const;

    std::string mDir;       // everything of this test
    std::string mRunDir;    // ORVIXSIM_DIR
    std::string mStateDir;  // the simulator's state folder
    Child mSim;
    Child mDaemon;
};

}  // namespace orvix::e2e
