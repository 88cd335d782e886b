// Load: a burst of client requests, every one answered once and in order, and a long run of
// cast sessions after which the daemon holds no more threads, descriptors or memory than
// before. Each test prints its figures ("figure: ...") for docs/RELIABILITY.md.
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <set>

#include "tests/e2e/RobustSupport.h"

namespace orvix::e2e {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Sanitized binaries run several times slower: a fifth of the counts keeps the suite inside
// its time. Their own bookkeeping (ASan's quarantine of freed memory, TSan's shadow) makes the
// process's size say nothing about the daemon's, so memory is judged in the plain build only.
constexpr int kDefaultDivisor = 5;
constexpr bool kMemoryFigureMeansSomething = false;
#else
constexpr int kDefaultDivisor = 1;
constexpr bool kMemoryFigureMeansSomething = true;
#endif

// ORVIX_LOAD_SCALE=N divides the counts by N instead (1: the full numbers everywhere).
int Scaled(int count) {
    const char* text = std::getenv("ORVIX_LOAD_SCALE");
    const int divisor = text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : kDefaultDivisor;
    return std::max(1, count / divisor);
}

long Millis(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - since)
                                 .count());
}

std::string Uuid(int i) {
    return "load-" + std::to_string(i);
}

class LoadTest : public RobustTest {
protected:
    ProcessFigures figures() {
        ProcessFigures f;
        EXPECT_TRUE(ReadProcessFigures(mDaemon.pid(), &f));
        return f;
    }

    void figure(const std::string& text) {
        std::cout << "figure: " << text << std::endl;
        RecordProperty("figure", text);
    }
};

TEST_F(LoadTest, ABurstOfGetRequestsIsAnsweredOnceEachInOrder) {
    const int n = Scaled(10000);
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::vector<std::string> lines;
    lines.reserve(n);
    for (int i = 0; i < n; ++i) {
        lines.push_back(
            "bus write 571 '{\"request_type\":\"get\",\"id\":\"tos\",\"device_uuid\":\"" + Uuid(i) +
            "\"}'");
    }
    const auto start = std::chrono::steady_clock::now();
    batchOk(lines);
    const long written = Millis(start);
    const std::string last = "\"device_uuid\":\"" + Uuid(n - 1) + "\"";
    ASSERT_TRUE(waitCtl(
        {"bus", "read", "572"},
        [&](const Json::Value& r) {
            return r["payload"].asString().find(last) != std::string::npos;
        },
        60s));
    const long answered = Millis(start);

    const std::vector<std::string> replies = daemonReplies();
    ASSERT_EQ(replies.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        ASSERT_NE(replies[i].find("\"device_uuid\":\"" + Uuid(i) + "\""), std::string::npos)
            << "reply " << i << " is " << replies[i];
    }
    figure(std::to_string(n) + " GET requests written in " + std::to_string(written) +
           " ms, all answered once and in order after " + std::to_string(answered) + " ms (" +
           std::to_string(answered > 0 ? n * 1000L / answered : 0) + " per second)");
    EXPECT_TRUE(mDaemon.running());
}

// One session: connect, status, speaker granted, a track shown, the track finished, speaker
// given back, disconnect. Paused and idle only: a session that never plays with a position
// keeps the once-a-second reporter asleep, so nothing here waits for the clock.
std::vector<std::string> Session(int i) {
    const std::string id = std::to_string(i);
    const std::string media = "cast media --time 0 --session " + std::to_string(i + 1) +
                              " --stream 1 --duration 180 --title Track-" + id +
                              " --artist Artist --album Album --image http://art/" + id + ".png";
    return {
        "cast connect",
        "cast status --name Speaker-" + id + " --build 1.0 --locale en-US --usage-report " +
            std::to_string(i % 2),
        "cast request-resources",
        media + " --state 3",
        media + " --state 1 --idle-reason 2",
        "cast release-resources",
        "cast disconnect",
    };
}

TEST_F(LoadTest, AThousandSessionsLeaveNoThreadsDescriptorsOrMemoryBehind) {
    const int n = Scaled(1000);
    // Sessions go in batches of this many, each waited for before the next, as sessions in a
    // row come; a burst of all at once is in RELIABILITY.md.
    const int chunk = 50;
    ASSERT_NO_FATAL_FAILURE(startAll());
    // MID 50 says cast has the speaker, so each disconnect runs the full clean-up.
    ctl({"bus", "write", "50", "24"});
    // Start-up may still have a short-lived thread about: the baseline is two equal readings
    // with a request handled in between.
    ProcessFigures before = figures();
    ASSERT_TRUE(WaitFor([&] {
        const ProcessFigures previous = before;
        if (!answersGet("baseline")) return false;
        before = figures();
        return before.threads == previous.threads && before.fds == previous.fds;
    }));

    int done = 0;
    auto run = [&](int count) {
        for (int from = done; from < done + count; from += chunk) {
            std::vector<std::string> lines;
            for (int i = from; i < std::min(from + chunk, done + count); ++i) {
                for (const std::string& line : Session(i)) lines.push_back(line);
            }
            batchOk(lines);
            // Two per session: the release worker's, and the observer's on disconnect.
            const size_t want = 2u * static_cast<size_t>(std::min(from + chunk, done + count));
            if (!waitSourceOps("DisconnectMySource", want, 60s)) return false;
        }
        done += count;
        return true;
    };
    // The first sessions make what lives for the process (the version, the multi-room delay,
    // the allocator's arenas); the memory figure counts from after them.
    ASSERT_TRUE(run(chunk));
    const ProcessFigures warm = figures();

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(run(n));
    const long took = Millis(start);
    // Detached workers (release, version monitor) end on their own: wait for the count.
    ProcessFigures after;
    const bool settled = WaitFor(
        [&] {
            after = figures();
            return after.threads == before.threads && after.fds == before.fds;
        },
        30s);
    const long settledMs = Millis(start);
    EXPECT_TRUE(settled) << "before: " << Describe(before) << "\nafter: " << Describe(after);
    const long growth = after.rssKiB - warm.rssKiB;
    if (kMemoryFigureMeansSomething) {
        EXPECT_LT(growth, 1024) << "before: " << Describe(warm) << "\nafter: " << Describe(after);
    }

    // Every session's track was shown.
    std::set<std::string> shown;
    for (const Json::Value& update : ctl({"ui", "log"})) {
        shown.insert(update["fields"]["trackName"].asString());
    }
    for (int i = 0; i < done; ++i) {
        EXPECT_EQ(shown.count("Track-" + std::to_string(i)), 1u) << i;
    }
    figure(std::to_string(n) + " sessions in " + std::to_string(took) + " ms; threads " +
           std::to_string(before.threads) + " -> " + std::to_string(after.threads) +
           " (settled after " + std::to_string(settledMs) + " ms), descriptors " +
           std::to_string(before.fds) + " -> " + std::to_string(after.fds) + ", RSS " +
           std::to_string(warm.rssKiB) + " -> " + std::to_string(after.rssKiB) + " KiB (" +
           (growth >= 0 ? "+" : "") + std::to_string(growth) + " KiB)");
    EXPECT_TRUE(answersGet("after-sessions"));
}

// What is bounded only by the size of a burst, and what is not bounded at all: everything that
// arrives at once waits in queues (the host transport's, the looper's) whose memory the
// allocator keeps for the next burst, so a second burst of the same size costs nothing; an
// unanswered SET stays in the pending table for good, by design. Too slow for every run:
// docs/RELIABILITY.md has the command.
TEST_F(LoadTest, DISABLED_BurstsLeaveAHighWaterMarkAndPendingRequestsStay) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ctl({"bus", "write", "50", "24"});
    int sessions = 0;
    auto sessionBurst = [&](int count) {
        std::vector<std::string> lines;
        for (int i = sessions; i < sessions + count; ++i) {
            for (const std::string& line : Session(i)) lines.push_back(line);
        }
        sessions += count;
        batchOk(lines);
        return waitSourceOps("DisconnectMySource", 2u * static_cast<size_t>(sessions), 120s);
    };
    int gets = 0;
    auto getBurst = [&](int count) {
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i) lines.push_back(GetLine(Uuid(gets++)));
        batchOk(lines);
        return waitReply(Uuid(gets - 1), 120s);
    };
    ASSERT_TRUE(sessionBurst(50));
    const long start = figures().rssKiB;
    ASSERT_TRUE(sessionBurst(1000));
    const long firstSessions = figures().rssKiB;
    ASSERT_TRUE(sessionBurst(1000));
    const long secondSessions = figures().rssKiB;
    EXPECT_LT(secondSessions - firstSessions, 1024);
    ASSERT_TRUE(getBurst(20000));
    const long firstGets = figures().rssKiB;
    ASSERT_TRUE(getBurst(20000));
    const long secondGets = figures().rssKiB;
    EXPECT_LT(secondGets - firstGets, 1024);
    figure("RSS " + std::to_string(start) + " KiB; after 1000 sessions at once " +
           std::to_string(firstSessions) + ", after 1000 more " + std::to_string(secondSessions) +
           "; after 20000 GETs at once " + std::to_string(firstGets) + ", after 20000 more " +
           std::to_string(secondGets));

    const int pending = 20000;
    std::vector<std::string> sets;
    for (int i = 0; i < pending; ++i) {
        sets.push_back("bus write 571 " +
                       BatchWord(R"({"request_type":"set","id":"crash_report","action":"accepted",)"
                                 R"("device_uuid":"pending-)" +
                                 std::to_string(i) + R"(","user_ip":"10.0.0.2"})"));
    }
    batchOk(sets);
    ASSERT_TRUE(answersGet("after-sets", 120s));
    const long withPending = figures().rssKiB;
    const long perEntry = (withPending - secondGets) * 1024 / pending;
    EXPECT_LT(perEntry, 1024);
    figure(std::to_string(pending) + " unanswered SETs: RSS " + std::to_string(secondGets) +
           " -> " + std::to_string(withPending) + " KiB, about " + std::to_string(perEntry) +
           " bytes each");
}

// The batch form the tests above lean on: lines in order over one connection, quoting as a
// shell's, and a stop at the first line that fails (those before it have run).
TEST_F(LoadTest, ABatchRunsItsLinesInOrderAndStopsAtTheFirstFailure) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    const CliResult ran = batch({
        "# a comment, then a blank line",
        "",
        R"(bus write 5 'it'\''s')",
        R"(bus write 6 "a\x00b\"c\\")",
        "  env set Key \"two words\"  ",
    });
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.json["ran"].asInt(), 3);
    const Json::Value& results = ran.json["results"];
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0]["payload"].asString(), "it's");
    EXPECT_EQ(ctl({"bus", "read", "6"})["payload"].asString(), std::string("a\0b\"c\\", 6));
    EXPECT_EQ(ctl({"env", "get", "Key"})["value"].asString(), "two words");

    CliResult r = batch({"bus read 5", "bus bogus", "bus write 7 never"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 2: usage: orvixsim bus"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(1 commands ran before it)"), std::string::npos) << r.err;
    r = batch({"bus write 7 ran", "bus write 8 'open"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 2: unterminated '"), std::string::npos) << r.err;
    // A line that cannot be read stops the batch before anything runs.
    EXPECT_EQ(ctl({"bus", "read", "7"})["payload"].asString(), "");
}

}  // namespace
}  // namespace orvix::e2e
