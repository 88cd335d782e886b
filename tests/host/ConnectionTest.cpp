#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <vector>

#include "platform/host/Connection.h"
#include "tests/host/TestServer.h"

namespace orvix::hosttest {
namespace {

using host::Connection;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::string SocketPath(const char* name) {
    return TestDir() + "/" + name;
}

// body behind a correct length.
std::string Raw(const std::string& body) {
    const uint32_t n = static_cast<uint32_t>(body.size());
    const char header[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                            static_cast<char>(n >> 8), static_cast<char>(n)};
    return std::string(header, 4) + body;
}

// echo: the args back; fail: ok:false; silent: no answer; drop: the connection is closed.
Answer Scripted(const Request& request) {
    Answer answer;
    if (request.op == "echo") answer.result = request.args;
    if (request.op == "fail") answer.ok = false;
    if (request.op == "silent") answer.reply = false;
    if (request.op == "drop") answer.close = true;
    return answer;
}

TEST(ConnectionTest, CallsGetTheirOwnRepliesAndFailFastWhenTheLinkGoes) {
    TestServer server(SocketPath("rt.sock"), Scripted);
    Connection connection(SocketPath("rt.sock"), nullptr, nullptr);
    ASSERT_TRUE(connection.start());

    Json::Value args;
    args["text"] = "hello";
    args["n"] = 7;
    Json::Value result;
    ASSERT_TRUE(connection.call("echo", args, &result));
    EXPECT_EQ(args, result);
    EXPECT_FALSE(connection.call("fail", args, &result));
    EXPECT_FALSE(connection.call("silent", args, &result, milliseconds(100)));
    // The late reply of a timed-out call must not be taken for the next one's.
    ASSERT_TRUE(connection.call("echo", Json::Value("second"), &result));
    EXPECT_EQ(Json::Value("second"), result);

    const std::vector<Request> seen = server.requests();
    ASSERT_EQ(4u, seen.size());
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i].id, seen[i - 1].id);
    EXPECT_GT(seen[0].id, 0);

    const auto before = steady_clock::now();
    EXPECT_FALSE(connection.call("drop", args, &result));
    EXPECT_LT(steady_clock::now() - before, milliseconds(2000)) << "pending call not failed";

    ASSERT_TRUE(WaitUntil([&] { return server.accepted() == 2 && connection.connected(); }));
    EXPECT_TRUE(connection.call("echo", args, &result));
}

TEST(ConnectionTest, NothingListeningFailsAtOnce) {
    Connection connection(SocketPath("nobody.sock"), nullptr, nullptr);
    EXPECT_FALSE(connection.start());
    const auto before = steady_clock::now();
    EXPECT_FALSE(connection.call("echo", Json::Value()));
    EXPECT_LT(steady_clock::now() - before, milliseconds(500));
}

TEST(ConnectionTest, EventCallbackMayCallSynchronouslyAndEventsKeepTheirOrder) {
    TestServer server(SocketPath("ev.sock"), Scripted);
    std::mutex lock;
    std::vector<std::string> seen;
    std::unique_ptr<Connection> connection;
    connection = std::make_unique<Connection>(
        SocketPath("ev.sock"),
        [&](const std::string& name, const Json::Value& frame) {
            Json::Value result;
            const bool ok = connection->call("echo", frame["n"], &result);
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back(name + ":" + (ok ? result.toStyledString() : "failed"));
            return true;
        },
        nullptr);
    ASSERT_TRUE(connection->start());
    ASSERT_TRUE(WaitUntil([&] { return server.accepted() == 1; }));
    for (int n = 1; n <= 3; ++n) {
        Json::Value event;
        event["event"] = "tick";
        event["n"] = n;
        server.send(-1, event);
    }
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> guard(lock);
        return seen.size() == 3;
    }));
    EXPECT_EQ((std::vector<std::string>{"tick:1\n", "tick:2\n", "tick:3\n"}), seen);
}

TEST(ConnectionTest, WritingToAPeerThatWentAwayNeitherKillsNorHangs) {
    // A default SIGPIPE disposition makes a write without MSG_NOSIGNAL end this process.
    std::signal(SIGPIPE, SIG_DFL);
    TestServer server(SocketPath("pipe.sock"), Scripted);
    server.cutFrames();
    Connection connection(SocketPath("pipe.sock"), nullptr, nullptr);
    ASSERT_TRUE(connection.start());
    // Far more than the socket buffers hold, so the writer is still sending when the peer
    // closes after reading the length.
    const Json::Value big(std::string(3 * 1024 * 1024, 'x'));
    const auto before = steady_clock::now();
    EXPECT_FALSE(connection.call("echo", big));
    EXPECT_FALSE(connection.call("echo", big));
    EXPECT_LT(steady_clock::now() - before, milliseconds(4000));
}

TEST(ConnectionTest, MalformedFramesCloseTheConnectionWhichThenRecovers) {
    TestServer server(SocketPath("bad.sock"), Scripted);
    std::atomic<int> events{0};
    Connection connection(
        SocketPath("bad.sock"),
        [&](const std::string&, const Json::Value& frame) {
            ++events;
            return frame["n"].isInt();
        },
        nullptr);
    ASSERT_TRUE(connection.start());

    const std::string hugeLength("\xff\xff\xff\xff", 4);
    const std::string justOverLimit = std::string("\x00\x40\x00\x01", 4) + "{}";
    const std::vector<std::string> bad = {
        hugeLength,
        justOverLimit,
        Raw("nope!"),
        TestServer::Frame(Json::Value(Json::arrayValue)),
        TestServer::Frame(Json::Value("text")),
        Raw(std::string(5000, '[')),  // deeper than the parser will go
        TestServer::Frame(ParseJson(R"({"id":"one","ok":true})")),
        TestServer::Frame(ParseJson(R"({"id":1,"ok":"yes"})")),
        TestServer::Frame(ParseJson(R"({"event":5})")),
        TestServer::Frame(ParseJson(R"({"event":"tick","n":"not a number"})")),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE("malformed frame " + std::to_string(i));
        ASSERT_TRUE(
            WaitUntil([&] { return connection.connected() && server.accepted() == i + 1; }));
        server.sendRaw(static_cast<int>(i + 1), bad[i]);
        ASSERT_TRUE(WaitUntil([&] { return server.closed() == i + 1; }));
    }
    EXPECT_EQ(1, events.load());
    ASSERT_TRUE(WaitUntil([&] { return connection.connected(); }));
    Json::Value result;
    EXPECT_TRUE(connection.call("echo", Json::Value(1), &result));
}

}  // namespace
}  // namespace orvix::hosttest
