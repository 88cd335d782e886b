// The end-to-end figures: the real orvixsim and orvixcast in the private sandbox, an app on the
// bus writing GET requests on MID 571 and waiting for the replies on 572, beside the same round
// trip through a trivial echo client; then the idle daemon, the daemon while a track plays and
// once it is paused, and its memory after start-up and after 100,000 GET requests. Prints
// "row|..." lines for ./dev bench and "detail|..." lines (wake-ups by thread) for the write-up.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchRows.h"
#include "bench/BusPeers.h"
#include "bench/ProcActivity.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using orvix::bench::Fixed;
using orvix::bench::PrintRow;
using Clock = std::chrono::steady_clock;

constexpr int32_t kMidRequest = 571;
constexpr int32_t kMidReply = 572;
// The echo client's pair: the daemon stays registered for 571 meanwhile, so the two round
// trips can take turns in one simulator and share whatever load the machine has.
constexpr int32_t kEchoIn = 9571;
constexpr int32_t kEchoOut = 9572;
constexpr const char kStartedLine[] =
    "castcontroller: threadLoop() Started cast observer and CLI thread! wait for stop signal";

struct Options {
    int idleSeconds = 30;
    int playSeconds = 10;
    int requests = 100000;
    int blocks = 10;
    int perBlock = 200;
};

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "bench_e2e: %s\n", why.c_str());
    std::exit(1);
}

class Child {
public:
    ~Child() { stop(); }
    void start(const std::vector<std::string>& argv, const std::string& log) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&mPid, args[0], &actions, nullptr, args.data(), environ) != 0) mPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (mPid <= 0) Fail("cannot start " + argv[0]);
    }
    pid_t pid() const { return mPid; }
    void stop() {
        if (mPid <= 0) return;
        ::kill(mPid, SIGTERM);
        int status = 0;
        ::waitpid(mPid, &status, 0);
        mPid = -1;
    }

private:
    pid_t mPid = -1;
};

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// One GET written on inMid and its reply seen on outMid; the time in microseconds, or -1.
double RoundTrip(orvix::bench::BusPeer& app, int32_t inMid, int32_t outMid,
                 const std::string& uuid) {
    const std::string expected = "\"device_uuid\":\"" + uuid + "\"";
    const auto start = Clock::now();
    if (!app.write(inMid, orvix::bench::GetPayload(uuid))) return -1;
    for (;;) {
        const Json::Value alert = app.waitAlert(outMid, 5s);
        if (alert.isNull()) return -1;
        if (alert["payload"].asString().find(expected) != std::string::npos) {
            return Micros(Clock::now() - start);
        }
    }
}

// One request of the kind the daemon makes while it answers a GET (a settings read), and its
// reply; the time in microseconds, or -1.
double RequestTrip(orvix::bench::BusPeer& app) {
    Json::Value args(Json::objectValue);
    args["key"] = "GoogleCastTOS";
    const auto start = Clock::now();
    const int64_t id = app.send("env.get", args);
    if (id == 0 || app.waitReply(id, 5s).isNull()) return -1;
    return Micros(Clock::now() - start);
}

// The receiver's media status for the bench's track: state 2 playing, 3 paused.
std::vector<std::string> MediaCommand(int state, int seconds) {
    return {"cast",       "media",
            "--state",    std::to_string(state),
            "--time",     std::to_string(seconds),
            "--stream",   "1",
            "--duration", "600",
            "--title",    "Bench",
            "--artist",   "Bench",
            "--album",    "Bench"};
}

class Bench {
public:
    explicit Bench(Options options) : mOptions(options) {}
    void run();

private:
    void prepare();
    void startDaemon();
    void latency();
    void bulk(int count);
    orvix::bench::Activity watch(int seconds, const std::string& label);
    void startPlaying();

    Options mOptions;
    std::string mDir = "/tmp/bench-e2e";
    std::string mRunDir = mDir + "/run";
    Child mSim;
    Child mDaemon;
    orvix::bench::BusPeer mApp;
    int mSent = 0;
};

void Bench::prepare() {
    if (std::system(("rm -rf " + mDir + " && mkdir -p " + mDir + "/bin " + mDir + "/state " +
                     "/data/time && : >/data/time/timezone")
                        .c_str()) != 0) {
        Fail("cannot prepare " + mDir);
    }
    ::setenv("ORVIXSIM_DIR", mRunDir.c_str(), 1);
    // The daemon runs the mixer through the shell; a silent stand-in comes first on PATH.
    std::ofstream(mDir + "/bin/amixer") << "#!/bin/sh\nexit 0\n";
    ::chmod((mDir + "/bin/amixer").c_str(), 0755);
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (mDir + "/bin:" + (path ? path : "/usr/bin")).c_str(), 1);

    mSim.start({ORVIXSIM_PATH, "run", "--syslog", "--state", mDir + "/state"}, mDir + "/sim.log");
    if (!WaitUntil(
            [&] {
                return orvix::bench::Control(mRunDir, {"bus", "listeners"}, nullptr);
            },
            10s)) {
        Fail("orvixsim did not come up (" + mDir + "/sim.log)");
    }
    if (!mApp.connect(mRunDir) || !mApp.registerMids({kMidReply, kEchoOut})) {
        Fail("the app cannot register on the bus");
    }
}

void Bench::startDaemon() {
    mDaemon.start({ORVIXCAST_PATH}, mDir + "/daemon.log");
    const bool started = WaitUntil(
        [&] {
            Json::Value log;
            if (!orvix::bench::Control(mRunDir, {"syslog"}, &log)) return false;
            for (const Json::Value& line : log) {
                if (line["text"] == kStartedLine) return true;
            }
            return false;
        },
        20s);
    if (!started) Fail("the daemon did not start (" + mDir + "/daemon.log)");
    // The first answered GET says the bus client is registered for 571.
    const bool answers = WaitUntil(
        [&] {
            return RoundTrip(mApp, kMidRequest, kMidReply, "warm-" + std::to_string(mSent++)) >= 0;
        },
        20s);
    if (!answers) Fail("the daemon does not answer GET requests");
}

void Bench::latency() {
    orvix::bench::EchoClient echo(kEchoIn, kEchoOut);
    if (!echo.start(mRunDir)) Fail("the echo client cannot register");
    std::vector<double> daemon;
    std::vector<double> floor;
    std::vector<double> requests;
    for (int block = 0; block < mOptions.blocks; ++block) {
        // Alternating which goes first keeps a slow start of a block from favouring either.
        for (int turn = 0; turn < 2; ++turn) {
            const bool toDaemon = (block + turn) % 2 == 0;
            for (int i = 0; i < mOptions.perBlock; ++i) {
                const std::string uuid = "rt-" + std::to_string(mSent++);
                const double us = toDaemon ? RoundTrip(mApp, kMidRequest, kMidReply, uuid)
                                           : RoundTrip(mApp, kEchoIn, kEchoOut, uuid);
                if (us < 0)
                    Fail(std::string("no reply from the ") + (toDaemon ? "daemon" : "echo"));
                (toDaemon ? daemon : floor).push_back(us);
            }
        }
        for (int i = 0; i < mOptions.perBlock / 4; ++i) {
            const double us = RequestTrip(mApp);
            if (us < 0) Fail("no reply to env.get");
            requests.push_back(us);
        }
    }
    echo.stop();
    const double p50 = orvix::bench::Quantile(daemon, 0.5);
    const double f50 = orvix::bench::Quantile(floor, 0.5);
    const double p99 = orvix::bench::Quantile(daemon, 0.99);
    const double f99 = orvix::bench::Quantile(floor, 0.99);
    orvix::bench::PrintRatioRow(
        "end to end: GET on MID 571 to reply on 572 through orvixsim, p50 (us)", p50, f50, 0, 1.5,
        true);
    PrintRow("end to end: the same, p99 (us)", Fixed(p99, 0), Fixed(f99, 0), Fixed(p99 / f99, 2),
             "report", "-");
    std::printf("detail|e2e|request and reply on the device socket (env.get), p50 (us)|%s\n",
                Fixed(orvix::bench::Quantile(requests, 0.5), 0).c_str());
}

// count GET requests with up to 64 in flight, as a chatty app would send them; every one
// answered before it returns.
void Bench::bulk(int count) {
    constexpr int kWindow = 64;
    int written = 0;
    int answered = 0;
    while (answered < count) {
        while (written < count && written - answered < kWindow) {
            if (!mApp.write(kMidRequest,
                            orvix::bench::GetPayload("bulk-" + std::to_string(written)))) {
                Fail("the app lost the bus");
            }
            ++written;
        }
        if (mApp.waitAlert(kMidReply, 10s).isNull()) {
            Fail("GET " + std::to_string(answered) + " of the bulk was not answered");
        }
        ++answered;
    }
    mSent += count;
}

orvix::bench::Activity Bench::watch(int seconds, const std::string& label) {
    orvix::bench::ProcSnapshot before;
    orvix::bench::ProcSnapshot after;
    if (!orvix::bench::TakeSnapshot(mDaemon.pid(), &before)) Fail("the daemon is gone");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    if (!orvix::bench::TakeSnapshot(mDaemon.pid(), &after)) Fail("the daemon is gone");
    const orvix::bench::Activity activity = orvix::bench::Between(before, after);
    for (const auto& [name, rate] : activity.perThread) {
        std::printf("detail|%s|%s|%s\n", label.c_str(), name.c_str(), Fixed(rate, 2).c_str());
    }
    return activity;
}

void Bench::startPlaying() {
    const std::vector<std::vector<std::string>> steps = {
        {"cast", "connect"},
        // With the receiver's version known the daemon's version monitor ends at once.
        {"cast", "status", "--name", "Bench", "--build", "1.0", "--locale", "en-US",
         "--usage-report", "0"},
        {"cast", "request-resources"},
        MediaCommand(2, 1),
    };
    for (const auto& step : steps) {
        std::string error;
        if (!orvix::bench::Control(mRunDir, step, nullptr, &error)) Fail(step[1] + ": " + error);
    }
    // Playing once the position reaches the bus: the reporter is running.
    const bool reporting = WaitUntil(
        [&] {
            Json::Value read;
            return orvix::bench::Control(mRunDir, {"bus", "read", "49"}, &read) &&
                   !read["payload"].asString().empty();
        },
        10s);
    if (!reporting) Fail("no position on MID 49 after the track started");
}

void Bench::run() {
    prepare();
    startDaemon();
    orvix::bench::ProcSnapshot startup;
    orvix::bench::TakeSnapshot(mDaemon.pid(), &startup);

    latency();
    bulk(std::max(0, mOptions.requests - mSent));
    // The last reply is written before the handler returns; a round trip more lets it finish.
    RoundTrip(mApp, kMidRequest, kMidReply, "after-bulk");
    orvix::bench::ProcSnapshot loaded;
    orvix::bench::TakeSnapshot(mDaemon.pid(), &loaded);
    PrintRow("resident memory after start-up (KiB)", std::to_string(startup.rssKiB), "-", "-",
             "report", "-");
    const long growth = loaded.rssKiB - startup.rssKiB;
    PrintRow("resident memory after " + std::to_string(mSent) + " GET requests (KiB)",
             std::to_string(loaded.rssKiB), "-", "-", "report", "-");
    PrintRow("resident memory growth over those requests (KiB)", std::to_string(growth), "-", "-",
             "< 256 KiB", growth < 256 ? "yes" : "no");

    // Let what the requests left behind (log lines, replies in flight) settle first.
    std::this_thread::sleep_for(1s);
    const orvix::bench::Activity idle = watch(mOptions.idleSeconds, "idle");
    PrintRow("idle daemon: CPU over " + std::to_string(mOptions.idleSeconds) + " s (%)",
             Fixed(idle.cpuPercent, 3), "-", "-", "< 0.1 %", idle.cpuPercent < 0.1 ? "yes" : "no");
    PrintRow("idle daemon: wake-ups per second", Fixed(idle.wakeupsPerSecond, 2), "-", "-",
             "< 1 /s", idle.wakeupsPerSecond < 1 ? "yes" : "no");

    startPlaying();
    std::this_thread::sleep_for(1s);
    const orvix::bench::Activity playing = watch(mOptions.playSeconds, "playing");
    // One position a second is one bus write: the reporter wakes for its tick and for the
    // write's reply, and the connection's reader carries that reply. Anything beyond those two
    // threads, or more than about two switches a second on either (2.5 leaves room for being
    // preempted now and then), is something else waking.
    std::vector<double> rates;
    for (const auto& entry : playing.perThread) rates.push_back(entry.second);
    std::sort(rates.rbegin(), rates.rend());
    double others = 0;
    for (size_t i = 2; i < rates.size(); ++i) others += rates[i];
    const bool onlyReporter =
        !rates.empty() && rates[0] <= 2.5 && (rates.size() < 2 || rates[1] <= 2.5) && others < 0.1;
    PrintRow("playing: wake-ups per second", Fixed(playing.wakeupsPerSecond, 2), "-", "-",
             "the 1 Hz reporter only", onlyReporter ? "yes" : "no");

    // Paused, the session still open: nothing plays, so nothing may tick.
    std::string error;
    if (!orvix::bench::Control(mRunDir, MediaCommand(3, 20), nullptr, &error)) Fail(error);
    std::this_thread::sleep_for(1s);
    const orvix::bench::Activity paused = watch(mOptions.playSeconds, "paused");
    PrintRow("paused, receiver still connected: wake-ups per second",
             Fixed(paused.wakeupsPerSecond, 2), "-", "-", "< 1 /s",
             paused.wakeupsPerSecond < 1 ? "yes" : "no");
    mDaemon.stop();
    mSim.stop();
}

}  // namespace

int main() {
    if (std::getenv("ORVIX_IN_SANDBOX") == nullptr) {
        std::fprintf(stderr, "bench_e2e: run it through scripts/in-sandbox.sh\n");
        return 77;
    }
    Options options;
    options.idleSeconds = EnvInt("ORVIX_BENCH_IDLE_SECONDS", options.idleSeconds);
    options.playSeconds = EnvInt("ORVIX_BENCH_PLAY_SECONDS", options.playSeconds);
    options.requests = EnvInt("ORVIX_BENCH_REQUESTS", options.requests);
    Bench(options).run();
    return 0;
}
