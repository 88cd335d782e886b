// End-to-end tests run the real orvixsim and orvixcast inside the private sandbox
// (scripts/in-sandbox.sh) and drive the simulator through its control socket, as its CLI does.
// Each test has a folder of its own, so a fresh simulator; the fixed paths (/tmp/cast-control,
// /dev/log, port 8008, /data/time) are the sandbox's.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace orvix::e2e {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using Pred = std::function<bool(const Json::Value&)>;

inline const char* const kStarted =
    "castcontroller: threadLoop() Started cast observer and CLI thread! wait for stop signal";

// Polls pred until it holds or the deadline passes.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 10s);
// A command line split at blanks; '...' keeps blanks inside a word.
Args Split(const std::string& line);
std::string GetRequest(const std::string& uuid);
// The simulator's framing: a 4-byte big-endian length, then the body.
std::string Frame(const std::string& body);
int ListenUnix(const std::string& path);
bool SendAll(int fd, const std::string& bytes);
// True when the peer closes within the time; what it sends meanwhile is dropped.
bool ClosedByPeer(int fd, std::chrono::milliseconds timeout = 10s);

// A child process with its output in a file; killed by the destructor.
class Child {
public:
    ~Child() { stop(SIGKILL); }
    bool start(const Args& argv, const std::string& log);
    bool running();
    // sig, then SIGKILL after 10 s; the exit status, 128 + the signal that ended it.
    int stop(int sig);
    pid_t pid() const { return mPid; }

private:
    pid_t mPid = -1;
    int mStatus = -1;
};

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // orvixsim run --syslog with runDir (default: the test's) as ORVIXSIM_DIR.
    void startSim(const std::string& runDir = "");
    void startDaemon();
    // Both, once the daemon's controller thread has settled.
    void startAll();

    // A CLI command ("env get TimeZone"); its result, null (and a failure) when it fails.
    Json::Value ctl(const std::string& line);
    bool tryCtl(const Args& argv, Json::Value* result);
    // Commands in one go, so the daemon gets their events as a burst; their results.
    Json::Value batch(const std::vector<Args>& commands);
    Json::Value run(const std::vector<std::string>& lines);
    bool waitCtl(const std::string& line, const Pred& pred, std::chrono::milliseconds t = 10s);
    // The entries of `LOG log` ("cast", "source") for op.
    std::vector<Json::Value> ops(const std::string& log, const std::string& op);
    bool waitOps(const std::string& log, const std::string& op, size_t count);
    // The daemon's syslog lines that start with prefix.
    std::vector<Json::Value> lines(const std::string& prefix);
    // A GET from uuid answered: everything the looper had before it is done.
    bool answersGet(const std::string& uuid);
    std::vector<std::string> replies();
    // The next count things the daemon did to the device and the receiver, in order, as text:
    // "Op[args]" (cast and source calls), "ui op", "key=value" (settings), "mid:payload" or
    // "mid local:payload" (bus writes, play positions aside).
    std::vector<std::string> effects(size_t count);

    std::string mDir, mRunDir, mStateDir;
    std::string mText;  // the CLI's own printing of the last ctl() result
    Child mSim, mDaemon;
    uint64_t mSeen = 0;  // effects up to this sequence number were looked at
};

}  // namespace orvix::e2e
