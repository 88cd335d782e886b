// End-to-end tests run the real orvixsim and orvixcast inside the private sandbox
// (scripts/in-sandbox.sh) and drive the simulator through its control socket, as its CLI does.
// Each test has a folder of its own, so a fresh simulator; the fixed paths (/tmp/cast-control,
// /dev/log, port 8008, /data/time) are the sandbox's.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace orvix::e2e {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using Pred = std::function<bool(const Json::Value&)>;

inline const char* const kStarted =
    "castcontroller: threadLoop() Started cast observer and CLI thread! wait for stop signal";

inline bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
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

// The simulator's framing: a 4-byte big-endian length, then the body.
inline std::string Frame(const std::string& body) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(body.size() >> shift);
    return bytes + body;
}

inline std::string Compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;  // bytes as they are, as the simulator reads them
    return Json::writeString(builder, value);
}

// A Unix stream socket connected to path, or listening there when listening.
inline int UnixSocket(const std::string& path, bool listening = false) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const auto* at = reinterpret_cast<const sockaddr*>(&addr);
    const bool ok = listening ? ::bind(fd, at, sizeof addr) == 0 && ::listen(fd, 16) == 0
                              : ::connect(fd, at, sizeof addr) == 0;
    if (!ok) ::close(fd);
    return ok ? fd : -1;
}

inline bool SendAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

inline Json::Value Parse(const std::string& text) {
    Json::Value value;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    return reader->parse(text.data(), text.data() + text.size(), &value, nullptr) ? value
                                                                                  : Json::Value();
}

// The length of the frame at the start of bytes, which holds at least 4.
inline size_t FrameSize(const std::string& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    return size_t{b[0]} << 24 | size_t{b[1]} << 16 | size_t{b[2]} << 8 | b[3];
}

// One request on the control socket, and its reply.
inline bool Control(const std::string& path, const Json::Value& request, Json::Value* reply) {
    const int fd = UnixSocket(path);
    const timeval limit{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string body(4, '\0');
    bool ok = fd >= 0 && SendAll(fd, Frame(Compact(request))) &&
              ::recv(fd, &body[0], 4, MSG_WAITALL) == 4;
    body.resize(ok ? FrameSize(body) : 0);
    ok = ok && ::recv(fd, &body[0], body.size(), MSG_WAITALL) == ssize_t(body.size());
    ::close(fd);
    *reply = Parse(body);
    return ok && reply->isObject();
}

// A peer of the daemon's that says yes to every request until the daemon closes (or resets)
// the connection; true when it does within the time.
inline bool AnswerUntilClosed(int fd) {
    std::string in;
    char chunk[4096];
    return WaitFor([&] {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        in.append(chunk, n > 0 ? n : 0);
        for (; in.size() >= 4 && in.size() >= 4 + FrameSize(in); in.erase(0, 4 + FrameSize(in))) {
            const Json::Value request = Parse(in.substr(4, FrameSize(in)));
            SendAll(fd,
                    Frame(R"({"ok":true,"result":true,"id":)" + request["id"].asString() + "}"));
        }
        return n == 0 || (n < 0 && errno != EAGAIN);
    });
}

// A child process with its output in a file; killed by the destructor.
class Child {
public:
    ~Child() { stop(SIGKILL); }
    bool start(const Args& argv, const std::string& log) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&mPid, args[0], &actions, nullptr, args.data(), environ) != 0) mPid = -1;
        posix_spawn_file_actions_destroy(&actions);
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
    pid_t pid() const { return mPid; }

private:
    pid_t mPid = -1;
    int mStatus = -1;
};

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "takes the daemon's fixed paths: run it through scripts/in-sandbox.sh";
        }
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        mDir = std::string("/tmp/e2e/") + test->test_suite_name() + "." + test->name();
        mRunDir = mDir + "/run";
        ASSERT_EQ(std::system(("rm -rf " + mDir + " && mkdir -p " + mDir).c_str()), 0);
        ASSERT_EQ(std::system(": >/data/time/timezone && rm -f /data/time/localtime"), 0);
    }

    void TearDown() override {
        EXPECT_TRUE(mDaemon.pid() <= 0 || mDaemon.running()) << "the daemon ended";
        mDaemon.stop(SIGKILL);
        Json::Value timeline;
        if (HasFailure() && tryCtl({"timeline", "--json"}, &timeline)) {
            for (Json::ArrayIndex i = std::max(60u, timeline.size()) - 60; i < timeline.size(); ++i)
                std::cerr << timeline[i].asString().substr(0, 300) << "\n";
        }
        // A sanitizer's report at exit would change the status.
        EXPECT_EQ(mSim.running() ? mSim.stop(SIGTERM) : 0, 0);
        for (const char* log : {"/sim.log", "/daemon.log"}) {
            if (HasFailure() && !mDir.empty())
                std::cerr << log << ":\n" << std::ifstream(mDir + log).rdbuf();
            std::cerr.clear();  // an empty log sets failbit
        }
    }

    // orvixsim run --syslog with runDir (default: the test's) as ORVIXSIM_DIR.
    void startSim(const std::string& runDir = "") {
        mRunDir = runDir.empty() ? mRunDir : runDir;
        ::setenv("ORVIXSIM_DIR", mRunDir.c_str(), 1);
        const Args argv{ORVIXSIM_PATH, "run", "--syslog", "--state", mDir + "/state"};
        ASSERT_TRUE(mSim.start(argv, mDir + "/sim.log"));
        Json::Value ignored;
        ASSERT_TRUE(WaitFor([&] { return !mSim.running() || tryCtl({"name"}, &ignored); }));
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
        Json::Value request, reply;
        request["id"] = 1;
        request["op"] = op;
        request["args"] = args;
        const bool ok = Control(mRunDir + "/control.sock", request, &reply) && reply["ok"].asBool();
        *result = ok ? reply["result"] : reply["error"];
        mText = reply["text"].isString() ? reply["text"].asString() : Compact(reply["result"]);
        return ok;
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
    // Commands in one go, so the daemon gets their events as a burst; their results.
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
        std::vector<Args> commands;
        for (const std::string& line : lines) commands.push_back(Split(line));
        return batch(commands);
    }
    bool waitCtl(const std::string& line, const Pred& pred) {
        Json::Value result;
        return WaitFor([&] { return tryCtl(Split(line), &result) && pred(result); });
    }
    // The entries of a log (what `line` prints) that pred takes.
    std::vector<Json::Value> select(const std::string& line, const Pred& pred) {
        std::vector<Json::Value> found;
        for (const Json::Value& entry : ctl(line)) {
            if (pred(entry)) found.push_back(entry);
        }
        return found;
    }
    // The entries of `LOG log` ("cast", "source") for op.
    std::vector<Json::Value> ops(const std::string& log, const std::string& op) {
        return select(log + " log", [&](const Json::Value& e) { return e["op"] == op; });
    }
    bool waitOps(const std::string& log, const std::string& op, size_t count) {
        return WaitFor([&] { return ops(log, op).size() >= count; });
    }
    // The daemon's syslog lines that start with prefix.
    std::vector<Json::Value> lines(const std::string& prefix) {
        return select("syslog", [&](const Json::Value& line) {
            return line["pid"] == mDaemon.pid() && line["text"].asString().rfind(prefix, 0) == 0;
        });
    }
    // A GET from uuid answered: everything the looper had before it is done.
    bool answersGet(const std::string& uuid) {
        const std::string member = "\"device_uuid\":\"" + uuid + "\"";
        return batch({{"bus", "write", "571", GetRequest(uuid)}}).size() == 1 &&
               waitCtl("bus read 572", [&](const Json::Value& r) {
                   return r["payload"].asString().find(member) != std::string::npos;
               });
    }
    std::vector<std::string> replies() {
        std::vector<std::string> payloads;
        for (const Json::Value& write : ctl("bus log")) {
            if (write["mid"] == 572 && write["from"] == "daemon")
                payloads.push_back(write["payload"].asString());
        }
        return payloads;
    }

    // The next count things the daemon did to the device and the receiver, in order, as text:
    // "Op[args]" (cast and source calls), "ui op", "key=value" (settings), "mid:payload" or
    // "mid local:payload" (bus writes, play positions aside).
    std::vector<std::string> effects(size_t count) {
        std::vector<std::pair<uint64_t, std::string>> found;
        WaitFor([&] {
            found.clear();
            // One batch is one snapshot: nothing is recorded between its commands.
            const Json::Value logs =
                run({"cast log", "source log", "ui log", "env log", "bus log"});
            for (Json::ArrayIndex log = 0; log < logs.size(); ++log) {
                for (const Json::Value& e : logs[log]) {
                    if (e["seq"].asUInt64() <= mSeen || e["mid"] == 49 ||
                        (e.isMember("from") && e["from"] != "daemon")) {
                        continue;
                    }
                    const std::string texts[] = {
                        e["op"].asString() + Compact(e["args"]), "", "ui " + e["op"].asString(),
                        e["key"].asString() + "=" + e["value"].asString(),
                        e["mid"].asString() + (e["scope"] == "local" ? " local:" : ":") +
                            e["payload"].asString()};
                    found.emplace_back(e["seq"].asUInt64(), texts[log == 1 ? 0 : log]);
                }
            }
            return found.size() >= count;
        });
        std::sort(found.begin(), found.end());
        std::vector<std::string> texts;
        for (size_t i = 0; i < std::min(count, found.size()); ++i) {
            mSeen = found[i].first;
            texts.push_back(found[i].second);
        }
        return texts;
    }

    std::string mDir, mRunDir;
    std::string mText;  // the CLI's own printing of the last result
    Child mSim, mDaemon;
    uint64_t mSeen = 0;  // the sequence number of the last effect looked at
};

}  // namespace orvix::e2e
