// Hostile input on the bus and on the daemon's connections to the device and the receiver (the
// setup service's answers are fuzzed in-process). None of it ends or wedges the daemon (the
// fixture checks that it still runs), and it answers requests afterwards.
#include <poll.h>

#include "tests/e2e/E2e.h"

namespace orvix::e2e {
namespace {

// A peer of the daemon's that says yes to every request until the daemon closes (or resets)
// the connection; true when it does in time.
bool AnswerUntilClosed(int fd) {
    std::string in;
    char chunk[4096];
    return WaitFor([&] {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        in.append(chunk, n > 0 ? n : 0);
        for (; in.size() >= 4 && in.size() >= 4 + FrameSize(in); in.erase(0, 4 + FrameSize(in))) {
            const std::string id = Parse(in.substr(4, FrameSize(in)))["id"].asString();
            Send(fd, Frame(R"({"ok":true,"result":true,"id":)" + id + "}"));
        }
        return n == 0 || (n < 0 && errno != EAGAIN);
    });
}

class HostileTest : public E2eTest {};

TEST_F(HostileTest, GarbageOnTheBus) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::string bytes;
    for (int i = 1; i <= 65536; ++i) bytes += static_cast<char>(i * 7);
    const std::string get = R"({"request_type":"get","id":"tos","device_uuid":)";
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const Args payloads{"",
                        std::string(1 << 20, 'x'),
                        bytes,
                        std::string("\0", 1) + get + "\"a\"}",
                        "{request_type: get",
                        deep,
                        get + "\"deep\",\"x\":" + deep + "}",
                        R"({"request_type":["get"],"id":{"a":1},"device_uuid":"x"})",
                        get + "\"\xff\xfe\xc3\"}",
                        get + "\"" + std::string(1 << 20, 'u') + "\"}"};
    for (const char* mid : {"571", "90", "572", "573"}) {
        std::vector<Args> writes;
        for (const std::string& payload : payloads)
            writes.push_back({"bus", "write", mid, payload});
        batch(writes);
        ASSERT_TRUE(answersGet(std::string("after-") + mid));
    }
    // Only the two well-formed GETs were answered, each uuid as sent (bytes that are no UTF-8
    // as U+FFFD), and every name up to its first NUL went to the receiver byte for byte.
    const Args answered = replies();
    ASSERT_EQ(answered.size(), 6u);
    EXPECT_NE(answered[0].find(R"("device_uuid":"\ufffd\ufffd\ufffd")"), std::string::npos);
    EXPECT_NE(answered[1].find(std::string(1 << 20, 'u')), std::string::npos);
    const Entries names = ops("cast", "SetDeviceName");
    ASSERT_EQ(names.size(), 8u);
    EXPECT_EQ(names[1]["args"][0].asString(), bytes.substr(0, bytes.find('\0')));
}

// The simulator goes away and its sockets are taken over: each connection the daemon makes
// again gets one piece of garbage, which must make the daemon close it. Then the simulator is
// back, and so is every connection.
TEST_F(HostileTest, GarbageOnTheDaemonsConnections) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_EQ(mSim.stop(SIGTERM), 0);
    const Args device{"\xff\xff\xff\xff",  // a frame past the size limit
                      Frame("nope!"), Frame("[1]"), Frame(std::string(5000, '[')),
                      Frame(R"({"id":1,"ok":"yes"})"), Frame(R"({"event":5})"),
                      // A bus client drops the first, the device-service client the second.
                      Frame(R"({"event":"bus.alert","mid":571,"payload":5})") +
                          Frame(R"({"event":"source.volume","text":7})")};
    const Args receiver{Frame(R"({"event":"cast.status","name":5})"),
                        Frame(R"({"event":"cast.media","info":{"metadata":{"image":[]}}})"),
                        Frame(R"({"event":"cast.response","id":"1","code":0})"),
                        Frame(R"({"event":"cast.callback","name":"volume","value":"66"})")};
    for (const auto& [path, garbage] : {std::pair{mRunDir + "/device.sock", device},
                                        std::pair{std::string("/tmp/cast-control"), receiver}}) {
        const int listener = UnixSocket(path, true);
        for (const std::string& bytes : garbage) {
            SCOPED_TRACE(path + " " + bytes.substr(0, 50));
            pollfd ready{listener, POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 10000), 1);
            const int fd = ::accept(listener, nullptr, nullptr);
            Send(fd, bytes);
            EXPECT_TRUE(AnswerUntilClosed(fd));
            ::close(fd);
        }
        ::close(listener);
    }
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_TRUE(waitOps("cast", "Create", 1));
    EXPECT_TRUE(answersGet("after-garbage"));
    ctl("cast connect");
    EXPECT_TRUE(waitOps("cast", "SetDeviceName", 1));
}

}  // namespace
}  // namespace orvix::e2e
