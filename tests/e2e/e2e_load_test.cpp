// Load: a burst of requests, each answered once and in order within a bound, and cast sessions
// in a row after which the daemon holds no more threads, descriptors or memory than before.
// The figures go to the test's output ("figure: ...").
#include <filesystem>
#include <iterator>

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
    // The daemon's threads, resident KiB and descriptors.
    std::vector<long> figures() {
        const std::string proc = "/proc/" + std::to_string(mDaemon.mPid);
        std::ifstream stat(proc + "/stat");
        const Args f{std::istream_iterator<std::string>(stat), {}};
        return {std::stol(f.at(19)), std::stol(f.at(23)) * ::sysconf(_SC_PAGESIZE) / 1024,
                std::distance(std::filesystem::directory_iterator(proc + "/fd"), {})};
    }
};

TEST_F(LoadTest, ABurstOfRequestsAndSessionsInARow) {
    const int gets = 2000 / kScale;
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::vector<Args> burst;
    Args expected;
    for (int i = 0; i < gets; ++i) {
        burst.push_back({"bus", "write", "571", GetRequest(std::to_string(i))});
        expected.push_back(R"({"crash_report":false,"device_uuid":")" + std::to_string(i) +
                           R"(","id":"status","status":"success","tos":"not_activated"})");
    }
    const auto start = std::chrono::steady_clock::now();
    batch(burst);
    ASSERT_TRUE(waitCtl("bus read 572",
                        [&](const Json::Value& r) { return r["payload"] == expected.back(); }));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(replies(), expected);
    EXPECT_LT(took, 20s);

    // Sessions in bursts of 20: connect, status, the speaker granted, a track shown and finished,
    // the speaker given back, disconnect; never playing, so never waiting on the clock. Each
    // releases twice: the release worker, and the clean-up on disconnect (cast owns MID 50).
    ctl("bus write 50 24");
    std::vector<long> before, after;
    std::vector<std::string> lines;
    for (int session = 1; session <= 300 / kScale; ++session) {
        const std::string media =
            "cast media --time 0 --stream 1 --duration 180 --session " + std::to_string(session);
        lines.insert(lines.end(), {"cast connect", "cast status --name Speaker --build 1.0",
                                   "cast request-resources", media + " --state 3",
                                   media + " --state 1 --idle-reason 2", "cast release-resources",
                                   "cast disconnect"});
        if (session % 20) continue;
        run(std::exchange(lines, {}));
        ASSERT_TRUE(waitOps("source", "DisconnectMySource", 2u * session));
        if (before.empty()) before = figures();
    }
    // Detached workers end on their own.
    EXPECT_TRUE(
        WaitFor([&] { return (after = figures())[0] <= before[0] && after[2] <= before[2]; }));
    EXPECT_TRUE(kScale > 1 || after[1] - before[1] < 1024) << before[1] << " -> " << after[1];
    std::cout << "figure: " << gets << " GETs answered in " << took / 1ms << " ms; threads, KiB, "
              << "descriptors " << before[0] << " " << before[1] << " " << before[2] << " -> "
              << after[0] << " " << after[1] << " " << after[2] << std::endl;
}

}  // namespace
}  // namespace orvix::e2e
