// Load: a burst of requests, each answered once and in order within a bound, and cast sessions
// in a row after which the daemon holds no more threads, descriptors or memory than before.
// The figures go to the test's output ("figure: ...").
#include <filesystem>

#include "tests/e2e/E2e.h"

namespace orvix::e2e {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Several times slower, and the process's size is the sanitizer's bookkeeping more than ours.
constexpr int kScale = 5;
#else
constexpr int kScale = 1;
#endif

class LoadTest : public E2eTest {
protected:
    // Threads, resident KiB and descriptors of the daemon.
    std::vector<long> figures() {
        const std::string proc = "/proc/" + std::to_string(mDaemon.pid());
        std::ifstream status(proc + "/status");
        std::vector<long> out(3);
        for (std::string key; status >> key; status.ignore(1 << 10, '\n')) {
            if (key == "Threads:" || key == "VmRSS:") status >> out[key == "VmRSS:"];
        }
        out[2] = std::distance(std::filesystem::directory_iterator(proc + "/fd"), {});
        return out;
    }

    // Sessions one after the other, 20 at a time: connect, status, the speaker granted, a track
    // shown and finished, the speaker given back, disconnect. Never playing, so never waiting
    // on the clock.
    bool sessions(int count) {
        for (const int end = mSessions + count; mSessions < end;) {
            std::vector<std::string> lines;
            for (const int to = mSessions + 20; mSessions < to; ++mSessions) {
                const std::string media =
                    "cast media --time 0 --stream 1 --duration 180 --session " +
                    std::to_string(mSessions + 1);
                lines.insert(lines.end(), {"cast connect", "cast status --name Speaker --build 1.0",
                                           "cast request-resources", media + " --state 3",
                                           media + " --state 1 --idle-reason 2",
                                           "cast release-resources", "cast disconnect"});
            }
            run(lines);
            // Two each: the release worker's, and the clean-up on disconnect (cast owns MID 50).
            if (!WaitFor(
                    [&] { return ops("source", "DisconnectMySource").size() == 2u * mSessions; }))
                return false;
        }
        return true;
    }
    int mSessions = 0;
};

TEST_F(LoadTest, ABurstOfRequestsAndSessionsInARow) {
    const int gets = 2000 / kScale;
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::vector<Args> burst;
    for (int i = 0; i < gets; ++i)
        burst.push_back({"bus", "write", "571", GetRequest(std::to_string(i))});
    const auto start = std::chrono::steady_clock::now();
    batch(burst);
    ASSERT_TRUE(waitCtl("bus read 572", [&](const Json::Value& r) {
        return r["payload"].asString().find("\"" + std::to_string(gets - 1) + "\"") !=
               std::string::npos;
    }));
    const auto took = std::chrono::steady_clock::now() - start;
    const std::vector<std::string> answered = replies();
    ASSERT_EQ(answered.size(), size_t(gets));
    for (int i = 0; i < gets; ++i) {
        ASSERT_NE(answered[i].find("\"device_uuid\":\"" + std::to_string(i) + "\""),
                  std::string::npos);
    }
    EXPECT_LT(took, 20s);

    ctl("bus write 50 24");
    ASSERT_TRUE(sessions(20));
    const std::vector<long> before = figures();
    ASSERT_TRUE(sessions(300 / kScale));
    std::vector<long> after;
    // Detached workers end on their own.
    EXPECT_TRUE(
        WaitFor([&] { return (after = figures())[0] <= before[0] && after[2] <= before[2]; }));
    EXPECT_TRUE(kScale > 1 || after[1] - before[1] < 1024) << before[1] << " -> " << after[1];
    std::cout << "figure: " << gets << " GETs answered in order after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms; "
              << 300 / kScale << " sessions: threads " << before[0] << " -> " << after[0]
              << ", descriptors " << before[2] << " -> " << after[2] << ", RSS " << before[1]
              << " -> " << after[1] << " KiB" << std::endl;
}

}  // namespace
}  // namespace orvix::e2e
