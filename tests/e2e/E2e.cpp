#include "tests/e2e/E2e.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace orvix::e2e {

namespace {

std::string Compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;  // bytes as they are, as the simulator reads them
    return Json::writeString(builder, value);
}

std::string ReadFile(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
}

bool ReadExactly(int fd, char* into, size_t size) {
    for (size_t done = 0; done < size;) {
        pollfd p{fd, POLLIN, 0};
        const ssize_t n = ::poll(&p, 1, 30000) == 1 ? ::recv(fd, into + done, size - done, 0) : 0;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One request on the control socket and its reply.
bool Control(const std::string& path, const Json::Value& request, Json::Value* reply) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = Address(path);
    unsigned char header[4];
    std::string body;
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
              SendAll(fd, Frame(Compact(request))) &&
              ReadExactly(fd, reinterpret_cast<char*>(header), 4);
    if (ok) {
        body.resize(uint32_t{header[0]} << 24 | uint32_t{header[1]} << 16 |
                    uint32_t{header[2]} << 8 | header[3]);
        ok = ReadExactly(fd, &body[0], body.size()) &&
             std::unique_ptr<Json::CharReader>(Json::CharReaderBuilder().newCharReader())
                 ->parse(body.data(), body.data() + body.size(), reply, nullptr) &&
             reply->isObject();
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

Args Split(const std::string& line) {
    Args words;
    for (size_t i = 0; i < line.size();) {
        if (line[i] == ' ') {
            ++i;
        } else if (line[i] == '\'') {
            const size_t end = line.find('\'', i + 1);
            words.push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            const size_t end = std::min(line.find(' ', i), line.size());
            words.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

std::string GetRequest(const std::string& uuid) {
    return R"({"request_type":"get","id":"tos","device_uuid":")" + uuid + R"("})";
}

std::string Frame(const std::string& body) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(body.size() >> shift);
    return bytes + body;
}

int ListenUnix(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = Address(path);
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ClosedByPeer(int fd, std::chrono::milliseconds timeout) {
    char chunk[4096];
    return WaitFor(
        [&] {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN);  // a reset counts as a close
        },
        timeout);
}

bool Child::start(const Args& argv, const std::string& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&mPid, args[0], &actions, nullptr, args.data(), environ) != 0) mPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return mPid > 0;
}

bool Child::running() {
    int status = 0;
    const pid_t reaped = mPid > 0 ? ::waitpid(mPid, &status, WNOHANG) : -1;
    if (reaped == 0) return true;
    if (reaped == mPid) mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    mPid = -1;
    return false;
}

int Child::stop(int sig) {
    if (running()) ::kill(mPid, sig);
    if (!WaitFor([this] { return !running(); }) && mPid > 0) {
        ::kill(mPid, SIGKILL);
        WaitFor([this] { return !running(); });
    }
    return mStatus;
}

void E2eTest::SetUp() {
    if (std::getenv("ORVIX_IN_SANDBOX") == nullptr) {
        GTEST_SKIP() << "takes the daemon's fixed paths: run it through scripts/in-sandbox.sh";
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    mDir = std::string("/tmp/e2e/") + info->test_suite_name() + "." + info->name();
    mRunDir = mDir + "/run";
    mStateDir = mDir + "/state";
    ASSERT_EQ(std::system(("rm -rf " + mDir + " && mkdir -p " + mDir).c_str()), 0);
    ASSERT_EQ(std::system(": >/data/time/timezone && rm -f /data/time/localtime"), 0);
}

void E2eTest::TearDown() {
    EXPECT_TRUE(mDaemon.pid() <= 0 || mDaemon.running()) << "the daemon ended";
    mDaemon.stop(SIGKILL);
    if (HasFailure() && mSim.running()) {
        Json::Value timeline;
        tryCtl({"timeline", "--json"}, &timeline);
        for (Json::ArrayIndex i = timeline.size() > 60 ? timeline.size() - 60 : 0;
             i < timeline.size(); ++i) {
            std::cerr << timeline[i].asString().substr(0, 300) << "\n";
        }
    }
    // A sanitizer's report at exit would change the status.
    EXPECT_EQ(mSim.running() ? mSim.stop(SIGTERM) : 0, 0);
    if (HasFailure() && !mDir.empty()) {
        std::cerr << "--- simulator\n" << ReadFile(mDir + "/sim.log");
        std::cerr << "--- daemon\n" << ReadFile(mDir + "/daemon.log");
    }
}

void E2eTest::startSim(const std::string& runDir) {
    if (!runDir.empty()) mRunDir = runDir;
    ::setenv("ORVIXSIM_DIR", mRunDir.c_str(), 1);
    ASSERT_TRUE(
        mSim.start({ORVIXSIM_PATH, "run", "--syslog", "--state", mStateDir}, mDir + "/sim.log"));
    Json::Value ignored;
    ASSERT_TRUE(WaitFor([&] { return !mSim.running() || tryCtl({"bus", "listeners"}, &ignored); }));
    ASSERT_TRUE(mSim.running()) << ReadFile(mDir + "/sim.log");
}

void E2eTest::startDaemon() {
    ASSERT_TRUE(mDaemon.start({ORVIXCAST_PATH}, mDir + "/daemon.log"));
}

void E2eTest::startAll() {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_TRUE(WaitFor([&] { return !lines(kStarted).empty(); }));
}

bool E2eTest::tryCtl(const Args& argv, Json::Value* result) {
    Json::Value request, reply;
    request["id"] = 1;
    request["op"] = "cli";
    for (const std::string& a : argv) request["args"]["argv"].append(a);
    if (!Control(mRunDir + "/control.sock", request, &reply) || !reply["ok"].asBool()) {
        *result = reply["error"];
        return false;
    }
    *result = reply["result"];
    mText = reply["text"].isString() ? reply["text"].asString() : Compact(reply["result"]);
    return true;
}

Json::Value E2eTest::ctl(const std::string& line) {
    Json::Value result;
    EXPECT_TRUE(tryCtl(Split(line), &result)) << line << ": " << result;
    return result;
}

Json::Value E2eTest::batch(const std::vector<Args>& commands) {
    Json::Value request, reply;
    request["id"] = 1;
    request["op"] = "batch";
    request["args"]["commands"] = Json::arrayValue;
    for (const Args& argv : commands) {
        Json::Value command;
        command["line"] = request["args"]["commands"].size() + 1;
        for (const std::string& a : argv) command["argv"].append(a);
        request["args"]["commands"].append(command);
    }
    EXPECT_TRUE(Control(mRunDir + "/control.sock", request, &reply) && reply["ok"].asBool())
        << reply["error"];
    return reply["result"]["results"];
}

Json::Value E2eTest::run(const std::vector<std::string>& lines) {
    std::vector<Args> commands;
    for (const std::string& line : lines) commands.push_back(Split(line));
    return batch(commands);
}

bool E2eTest::waitCtl(const std::string& line, const Pred& pred, std::chrono::milliseconds t) {
    Json::Value result;
    return WaitFor([&] { return tryCtl(Split(line), &result) && pred(result); }, t);
}

std::vector<Json::Value> E2eTest::ops(const std::string& log, const std::string& op) {
    std::vector<Json::Value> found;
    for (const Json::Value& entry : ctl(log + " log")) {
        if (entry["op"] == op) found.push_back(entry);
    }
    return found;
}

bool E2eTest::waitOps(const std::string& log, const std::string& op, size_t count) {
    return WaitFor([&] { return ops(log, op).size() >= count; });
}

std::vector<Json::Value> E2eTest::lines(const std::string& prefix) {
    std::vector<Json::Value> found;
    for (const Json::Value& line : ctl("syslog")) {
        if (line["pid"] == mDaemon.pid() && line["text"].asString().rfind(prefix, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

bool E2eTest::answersGet(const std::string& uuid) {
    const std::string uuidMember = "\"device_uuid\":\"" + uuid + "\"";
    return batch({{"bus", "write", "571", GetRequest(uuid)}}).size() == 1 &&
           waitCtl("bus read 572", [&](const Json::Value& r) {
               return r["payload"].asString().find(uuidMember) != std::string::npos;
           });
}

std::vector<std::string> E2eTest::replies() {
    std::vector<std::string> found;
    for (const Json::Value& write : ctl("bus log")) {
        if (write["mid"] == 572 && write["from"] == "daemon") {
            found.push_back(write["payload"].asString());
        }
    }
    return found;
}

std::vector<std::string> E2eTest::effects(size_t count) {
    std::vector<std::pair<uint64_t, std::string>> found;
    WaitFor([&] {
        found.clear();
        // One batch is one snapshot: nothing is recorded between its commands.
        const Json::Value logs = run({"cast log", "source log", "ui log", "env log", "bus log"});
        for (Json::ArrayIndex log = 0; log < logs.size(); ++log) {
            for (const Json::Value& e : logs[log]) {
                if (e["seq"].asUInt64() <= mSeen || (e.isMember("from") && e["from"] != "daemon") ||
                    e["mid"] == 49) {
                    continue;
                }
                std::string text = e["op"].asString() + Compact(e["args"]);
                if (log == 2) text = "ui " + e["op"].asString();
                if (log == 3) text = e["key"].asString() + "=" + e["value"].asString();
                if (log == 4) {
                    text = e["mid"].asString() + (e["scope"] == "local" ? " local:" : ":") +
                           e["payload"].asString();
                }
                found.emplace_back(e["seq"].asUInt64(), text);
            }
        }
        return found.size() >= count;
    });
    std::sort(found.begin(), found.end());
    found.resize(std::min(found.size(), count));
    std::vector<std::string> texts;
    for (const auto& [seq, text] : found) {
        mSeen = seq;
        texts.push_back(text);
    }
    return texts;
}

}  // namespace orvix::e2e
