// End-to-end tests run the real orvixsim and orvixcast inside the private sandbox
// (scripts/in-sandbox.sh) and drive the simulator through its control socket, as its CLI does.
// Each test has a folder of its own, so a fresh simulator; the fixed paths (/tmp/cast-control,
// /dev/log, port 8008, /data/time) are the sandbox's.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/model/JsonText.h"
#include "tests/fakes/Wait.h"

namespace orvix::e2e {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using Pred = std::function<bool(const Json::Value&)>;
using Entries = std::vector<Json::Value>;

inline const char* const kStarted =
    "castcontroller: threadLoop() Started cast observer and CLI thread! wait for stop signal";

inline bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 10s) {
    return fakes::WaitFor(pred, timeout, 10ms);
}

// A command line split at blanks; '...' keeps blanks inside a word.
inline Args Split(const std::string& line) {
    std::istringstream words(line);
    Args argv;
    for (std::string word; words >> std::quoted(word, '\'');) argv.push_back(word);
    return argv;
}

inline std::string GetRequest(const std::string& uuid) {
    return R"({"request_type":"get","id":"tos","device_uuid":")" + uuid + R"("})";
}

// Null for text that is no JSON.
inline Json::Value Parse(const std::string& text) {
    Json::Value value;
    return model::parseJson(text, &value) ? value : Json::Value();
}
using model::compactJson;

// The simulator's framing: a 4-byte big-endian length, then the body.
inline std::string Frame(const std::string& body) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(body.size() >> shift);
    return bytes + body;
}

// The length of the frame at the start of bytes (at least 4 of them).
inline size_t FrameSize(const std::string& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    return size_t{b[0]} << 24 | size_t{b[1]} << 16 | size_t{b[2]} << 8 | b[3];
}

// A Unix stream socket connected to path, or listening there.
inline int UnixSocket(const std::string& path, bool listening = false) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    const auto* at = reinterpret_cast<const sockaddr*>(&addr);
    if (listening ? ::bind(fd, at, sizeof addr) == 0 && ::listen(fd, 16) == 0
                  : ::connect(fd, at, sizeof addr) == 0) {
        return fd;
    }
    ::close(fd);
    return -1;
}

// Blocking sockets: a send returns once everything is sent, or fails.
inline bool Send(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

// A child process with its output in a file; killed by the destructor.
struct Child {
    ~Child() { stop(SIGKILL); }
    bool start(const Args& argv, const std::string& log) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if ((mPid = ::fork()) == 0 && ::dup2(out, 1) == 1 && ::dup2(out, 2) == 2) {
            ::execv(args[0], args.data());
        }
        if (mPid == 0) ::_exit(127);
        ::close(out);
        return mPid > 0;
    }
    bool running() {
        int status = 0;
        const pid_t reaped = mPid > 0 ? ::waitpid(mPid, &status, WNOHANG) : -1;
        if (reaped == 0) return true;
        if (reaped > 0) mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        mPid = -1;
        return false;
    }
    // sig, then SIGKILL after 10 s; the exit status, 128 + the signal that ended it.
    int stop(int sig) {
        for (int s : {sig, SIGKILL}) {
            if (running()) ::kill(mPid, s);
            if (WaitFor([this] { return !running(); })) break;
        }
        return mStatus;
    }
    pid_t mPid = -1;
    int mStatus = -1;
};

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("ORVIX_IN_SANDBOX"))
            GTEST_SKIP() << "run it through scripts/in-sandbox.sh";
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        mDir = std::string("/tmp/e2e/") + test->test_suite_name() + "." + test->name();
        mRunDir = mDir + "/run";
        const std::string fresh = "rm -rf " + mDir + " && mkdir -p " + mDir +
                                  " && : >/data/time/timezone && rm -f /data/time/localtime";
        ASSERT_EQ(std::system(fresh.c_str()), 0);
    }

    void TearDown() override {
        EXPECT_TRUE(mDaemon.mPid <= 0 || mDaemon.running()) << "the daemon ended";
        mDaemon.stop(SIGKILL);
        // The simulator's timeline joins the logs shown below.
        if (HasFailure())
            std::system((ORVIXSIM_PATH " timeline>" + mDir + "/timeline.log").c_str());
        // A sanitizer's report at exit would change the status.
        EXPECT_EQ(mSim.running() ? mSim.stop(SIGTERM) : 0, 0);
        if (HasFailure()) std::system(("tail -c 20000 " + mDir + "/*.log >&2").c_str());
    }

    // orvixsim run --syslog with runDir (by default the test's) as ORVIXSIM_DIR.
    void startSim(const std::string& runDir = "") {
        mRunDir = runDir.empty() ? mRunDir : runDir;
        mSeen = 0;  // a new simulator counts from 1
        ::setenv("ORVIXSIM_DIR", mRunDir.c_str(), 1);
        ASSERT_TRUE(mSim.start({ORVIXSIM_PATH, "run", "--syslog", "--state", mDir + "/state"},
                               mDir + "/sim.log"));
        Json::Value name;
        ASSERT_TRUE(WaitFor([&] { return tryCtl({"name"}, &name) || !mSim.running(); }));
        ASSERT_TRUE(mSim.running());
    }
    void startDaemon() { ASSERT_TRUE(mDaemon.start({ORVIXCAST_PATH}, mDir + "/daemon.log")); }
    // Both, once the daemon's controller thread has settled.
    void startAll() {
        ASSERT_NO_FATAL_FAILURE(startSim());
        ASSERT_NO_FATAL_FAILURE(startDaemon());
        ASSERT_TRUE(WaitFor([&] { return !lines(kStarted).empty(); }));
    }

    // A request on the control socket: true with its result, false with the error.
    bool control(const char* op, const Json::Value& args, Json::Value* result) {
        Json::Value request;
        request["id"] = 1;
        request["op"] = op;
        request["args"] = args;
        const int fd = UnixSocket(mRunDir + "/control.sock");
        const timeval limit{30, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        std::string body(4, '\0');
        const bool sent = fd >= 0 && Send(fd, Frame(compactJson(request))) &&
                          ::recv(fd, &body[0], 4, MSG_WAITALL) == 4;
        body.resize(sent ? FrameSize(body) : 0);
        ::recv(fd, &body[0], body.size(), MSG_WAITALL);
        ::close(fd);
        const Json::Value reply = Parse(body);
        *result = reply["ok"].asBool() ? reply["result"] : reply["error"];
        mText = reply["text"].isString() ? reply["text"].asString() : compactJson(reply["result"]);
        return reply["ok"].asBool();
    }
    bool tryCtl(const Args& argv, Json::Value* result) {
        Json::Value args;
        for (const std::string& a : argv) args["argv"].append(a);
        return control("cli", args, result);
    }
    // A CLI command ("env get TimeZone"); its result, null (and a failure) when it fails.
    Json::Value ctl(const std::string& line) {
        Json::Value result;
        EXPECT_TRUE(tryCtl(Split(line), &result)) << line << ": " << result;
        return result;
    }
    bool waitCtl(const std::string& line, const Pred& pred) {
        Json::Value result;
        return WaitFor([&] { return tryCtl(Split(line), &result) && pred(result); });
    }
    // Commands in one go, so that the daemon gets their events as a burst; their results.
    Json::Value batch(const std::vector<Args>& commands) {
        Json::Value args, result;
        for (const Args& argv : commands) {
            Json::Value& command = args["commands"].append(Json::objectValue);
            command["line"] = args["commands"].size();
            for (const std::string& a : argv) command["argv"].append(a);
        }
        EXPECT_TRUE(control("batch", args, &result)) << result;
        return result["results"];
    }
    Json::Value run(const std::vector<std::string>& lines) {
        if (lines.empty()) return Json::arrayValue;
        std::vector<Args> commands;
        for (const std::string& line : lines) commands.push_back(Split(line));
        return batch(commands);
    }

    // The entries of a log (what `line` prints) whose member key starts with text.
    Entries select(const std::string& line, const char* key, const std::string& text) {
        Entries found;
        for (const Json::Value& entry : ctl(line)) {
            if (entry[key].asString().rfind(text, 0) == 0) found.push_back(entry);
        }
        return found;
    }
    // The calls of op in `LOG log` ("cast", "source").
    Entries ops(const std::string& log, const std::string& op) {
        return select(log + " log", "op", op);
    }
    bool waitOps(const std::string& log, const std::string& op, size_t count) {
        return WaitFor([&] { return ops(log, op).size() >= count; });
    }
    // The daemon's syslog lines that start with prefix.
    Entries lines(const std::string& prefix) { return select("syslog", "text", prefix); }
    // The daemon's replies on MID 572.
    std::vector<std::string> replies() {
        std::vector<std::string> payloads;
        for (const Json::Value& write : select("bus log", "from", "daemon")) {
            if (write["mid"] == 572) payloads.push_back(write["payload"].asString());
        }
        return payloads;
    }
    // A GET from uuid answered: everything the looper had before it is done. Written once the
    // daemon listens, since the bus keeps nothing for a listener that is away.
    bool answersGet(const std::string& uuid) {
        const std::string member = "\"device_uuid\":\"" + uuid + "\"";
        return waitCtl("bus listeners", [](const Json::Value& l) { return !l.empty(); }) &&
               batch({{"bus", "write", "571", GetRequest(uuid)}}).size() == 1 &&
               waitCtl("bus read 572", [&](const Json::Value& r) {
                   return r["payload"].asString().find(member) != std::string::npos;
               });
    }

    // The next count things the daemon did to the device and the receiver, in order, as text:
    // "Op[args]" (cast and source calls), "ui op", "key=value" (settings), "mid:payload" or
    // "mid local:payload" (bus writes, play positions aside).
    std::vector<std::string> effects(size_t count) {
        std::map<uint64_t, std::string> found;
        WaitFor([&] {
            // One batch is one snapshot: nothing is recorded between its commands.
            for (const Json::Value& log :
                 run({"cast log", "source log", "ui log", "env log", "bus log"})) {
                for (const Json::Value& e : log) {
                    if (e["seq"].asUInt64() <= mSeen || e["mid"] == 49 || e["from"] == "app")
                        continue;
                    found[e["seq"].asUInt64()] =
                        e.isMember("key") ? e["key"].asString() + "=" + e["value"].asString()
                        : e.isMember("payload")
                            ? e["mid"].asString() + (e["scope"] == "local" ? " local:" : ":") +
                                  e["payload"].asString()
                        : e.isMember("fields") ? "ui " + e["op"].asString()
                                               : e["op"].asString() + compactJson(e["args"]);
                }
            }
            return found.size() >= count;
        });
        std::vector<std::string> texts;
        for (auto it = found.begin(); texts.size() < count && it != found.end(); ++it) {
            mSeen = it->first;
            texts.push_back(it->second);
        }
        return texts;
    }

    std::string mDir, mRunDir;
    std::string mText;  // the CLI's own printing of the last result
    Child mSim, mDaemon;
    uint64_t mSeen = 0;  // the sequence number of the last effect looked at
};

}  // namespace orvix::e2e
