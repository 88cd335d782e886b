#include "tests/e2e/E2eSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace orvix::e2e {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err == out) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

}  // namespace

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

Child::~Child() {
    if (mPid > 0 && running()) stop(SIGKILL);
}

bool Child::start(const std::vector<std::string>& argv, const std::string& logPath) {
    mExitCode = -1;
    mPid = Spawn(argv, logPath, logPath);
    return mPid > 0;
}

bool Child::running() {
    if (mPid <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(mPid, &status, WNOHANG);
    if (r == 0) return true;
    if (r == mPid) mExitCode = DecodeStatus(status);
    mPid = -1;
    return false;
}

bool Child::waitExit(std::chrono::milliseconds timeout) {
    return WaitFor([this] { return !running(); }, timeout);
}

void Child::stop(int sig) {
    if (!running()) return;
    ::kill(mPid, sig);
    if (!waitExit(5s)) {
        ::kill(mPid, SIGKILL);
        waitExit(5s);
    }
}

std::vector<Json::Value> WithOp(const Json::Value& log, const std::string& op) {
    std::vector<Json::Value> out;
    if (!log.isArray()) return out;
    for (const Json::Value& entry : log) {
        if (entry.isObject() && entry["op"].isString() && entry["op"].asString() == op) {
            out.push_back(entry);
        }
    }
    return out;
}

Json::Value SyslogLine(const Json::Value& syslog, const std::string& text) {
    if (!syslog.isArray()) return Json::Value();
    for (const Json::Value& entry : syslog) {
        if (entry.isObject() && entry["text"].isString() && entry["text"].asString() == text) {
            return entry;
        }
    }
    return Json::Value();
}

void E2eTest::SetUp() {
    if (std::getenv("ORVIX_IN_SANDBOX") == nullptr) {
        GTEST_SKIP() << "uses /tmp/cast-control, /dev/log and port 8008: run through "
                        "scripts/in-sandbox.sh (ctest does)";
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    mDir = std::string("/tmp/e2e/") + info->test_suite_name() + "." + info->name();
    mRunDir = mDir + "/run";
    mStateDir = mDir + "/state";
    ASSERT_EQ(std::system(("rm -rf '" + mDir + "' && mkdir -p '" + mDir + "/bin'").c_str()), 0);
    ::setenv("ORVIXSIM_DIR", mRunDir.c_str(), 1);
    // The daemon runs the mixer through the shell: a recording stand-in comes first on PATH.
    WriteFile(mDir + "/bin/amixer", "#!/bin/sh\necho \"$*\" >>'" + mDir + "/amixer.log'\n", 0755);
    static const std::string basePath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin";
    ::setenv("PATH", (mDir + "/bin:" + basePath).c_str(), 1);
    ASSERT_EQ(std::system("mkdir -p /data/time && : >/data/time/timezone && "
                          "rm -f /data/time/localtime"),
              0);
}

void E2eTest::TearDown() {
    mDaemon.stop(SIGKILL);
    if (mSim.running()) {
        // A clean stop: exit status 0 (a sanitizer's report at exit would change it) and no
        // socket left behind.
        mSim.stop(SIGTERM);
        EXPECT_EQ(mSim.exitCode(), 0);
        for (const std::string& path :
             {mRunDir + "/control.sock", mRunDir + "/device.sock", std::string("/tmp/cast-control"),
              std::string("/dev/log")}) {
            EXPECT_FALSE(Exists(path)) << path;
        }
    }
    if (HasFailure() && !mDir.empty()) {
        std::cerr << "--- simulator output\n" << readFile(mDir + "/sim.log");
        std::cerr << "--- daemon output\n" << readFile(mDir + "/daemon.log");
    }
}

void E2eTest::startSim() {
    ASSERT_TRUE(
        mSim.start({ORVIXSIM_PATH, "run", "--syslog", "--state", mStateDir}, mDir + "/sim.log"));
    // It answers once every socket is bound (files a killed simulator left behind are there
    // before that, so their presence proves nothing).
    ASSERT_TRUE(WaitFor([&] { return !mSim.running() || cli({"bus", "listeners"}).status == 0; }));
    ASSERT_TRUE(mSim.running()) << readFile(mDir + "/sim.log");
    ASSERT_TRUE(Exists("/dev/log") && Exists("/tmp/cast-control"));
}

void E2eTest::stopSim(int sig) {
    mSim.stop(sig);
}

void E2eTest::startDaemon() {
    ASSERT_TRUE(mDaemon.start({ORVIXCAST_PATH}, mDir + "/daemon.log"));
}

void E2eTest::startAll() {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_FALSE(waitSyslog("castcontroller: threadLoop() Started cast observer and CLI thread! "
                            "wait for stop signal")
                     .isNull());
}

CliResult E2eTest::cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ORVIXSIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    CliResult result;
    const pid_t pid = Spawn(argv, mDir + "/cli.out", mDir + "/cli.err");
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid) result.status = DecodeStatus(status);
    result.out = readFile(mDir + "/cli.out");
    result.err = readFile(mDir + "/cli.err");
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    if (!reader->parse(result.out.data(), result.out.data() + result.out.size(), &result.json,
                       &errors)) {
        result.json = Json::Value();
    }
    return result;
}

Json::Value E2eTest::json(const std::vector<std::string>& args) {
    const CliResult r = cli(args);
    std::string command;
    for (const std::string& a : args) command += a + " ";
    EXPECT_EQ(r.status, 0) << command << "\nstderr: " << r.err;
    EXPECT_FALSE(r.json.isNull()) << command << "\nstdout: " << r.out;
    return r.json;
}

bool E2eTest::waitJson(const std::vector<std::string>& args,
                       const std::function<bool(const Json::Value&)>& pred,
                       std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            const CliResult r = cli(args);
            return r.status == 0 && pred(r.json);
        },
        timeout);
}

Json::Value E2eTest::waitSyslog(const std::string& text, std::chrono::milliseconds timeout) {
    Json::Value found;
    waitJson(
        {"syslog"},
        [&](const Json::Value& log) {
            found = SyslogLine(log, text);
            return !found.isNull();
        },
        timeout);
    return found;
}

bool E2eTest::waitCastOp(const std::string& op, std::chrono::milliseconds timeout) {
    return waitJson(
        {"cast", "log"}, [&](const Json::Value& log) { return !WithOp(log, op).empty(); }, timeout);
}

std::string E2eTest::readFile(const std::string& path) const {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace orvix::e2e
