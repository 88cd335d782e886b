#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "platform/host/Connection.h"
#include "tests/host/TestServer.h"

namespace orvix::hosttest {
namespace {

using host::Connection;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The args back (late for "late"); "fail": ok:false; "drop": the connection is closed instead.
Answer Scripted(const Request& request) {
    if (request.op == "late") std::this_thread::sleep_for(milliseconds(200));
    Answer answer;
    answer.result = request.args;
    answer.ok = request.op != "fail";
    answer.close = request.op == "drop";
    return answer;
}

TEST(ConnectionTest, CallsGetTheirOwnRepliesAndFailFastWhenTheLinkGoes) {
    const std::string path = TestDir() + "/rt.sock";
    TestServer server(path, Scripted);
    Connection connection(path, nullptr, nullptr);
    ASSERT_TRUE(connection.start());
    Json::Value result;
    EXPECT_FALSE(connection.call("fail", Json::Value(1), &result));
    EXPECT_FALSE(connection.call("late", Json::Value(1), &result, milliseconds(50)));
    // The late reply must not be taken for the next call's.
    ASSERT_TRUE(connection.call("echo", Json::Value(2), &result));
    EXPECT_EQ(Json::Value(2), result);

    const auto before = steady_clock::now();
    EXPECT_FALSE(connection.call("drop", Json::Value(3)));
    EXPECT_LT(steady_clock::now() - before, milliseconds(2000)) << "pending call not failed";
    ASSERT_TRUE(WaitFor([&] { return server.accepted == 2 && connection.connected(); }));
    EXPECT_TRUE(connection.call("echo", Json::Value(4)));
}

TEST(ConnectionTest, WritingToAPeerThatWentAwayNeitherKillsNorHangs) {
    // With the default disposition, a write without MSG_NOSIGNAL ends this process.
    std::signal(SIGPIPE, SIG_DFL);
    const std::string path = TestDir() + "/pipe.sock";
    TestServer server(path, Scripted, /*cutFrames=*/true);
    Connection connection(path, nullptr, nullptr);
    ASSERT_TRUE(connection.start());
    // More than the socket buffers hold: the peer closes while the frame is still going out.
    const Json::Value big(std::string(3 * 1024 * 1024, 'x'));
    const auto before = steady_clock::now();
    EXPECT_FALSE(connection.call("echo", big));
    EXPECT_FALSE(connection.call("echo", big));
    EXPECT_LT(steady_clock::now() - before, milliseconds(4000));
}

TEST(ConnectionTest, MalformedFramesCloseTheConnectionWhichThenRecovers) {
    const std::string path = TestDir() + "/bad.sock";
    TestServer server(path, Scripted);
    std::atomic<int> events{0};
    Connection connection(
        path,
        [&](const std::string&, const Json::Value& frame) {
            ++events;
            return frame["n"].isInt();
        },
        nullptr);
    ASSERT_TRUE(connection.start());

    const std::vector<std::string> bad = {
        std::string("\x00\x40\x00\x01", 4) + "{}",  // one byte over the limit
        Frame(std::string("nope!")),
        Frame(Json::Value(Json::arrayValue)),
        Frame(std::string(5000, '[')),  // deeper than the parser will go
        Frame(ParseJson(R"({"id":1,"ok":"yes"})")),
        Frame(ParseJson(R"({"event":5})")),
        Frame(ParseJson(R"({"event":"tick","n":"not a number"})")),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE("malformed frame " + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return connection.connected() && server.accepted == i + 1; }));
        server.send(bad[i]);
        ASSERT_TRUE(WaitFor([&] { return server.closed == i + 1; }));
    }
    EXPECT_EQ(1, events.load());
    // Until the connection has seen the last close it still counts as connected: the call
    // waits for the one that came after it.
    ASSERT_TRUE(
        WaitFor([&] { return server.accepted == bad.size() + 1 && connection.connected(); }));
    EXPECT_TRUE(connection.call("echo", Json::Value(1)));
}

}  // namespace
}  // namespace orvix::hosttest
