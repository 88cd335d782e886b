#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/CastLite.h"
#include "tests/host/TestServer.h"

namespace orvix::hosttest {
namespace {

using chromecast::CastControl;

class CountingObserver : public CastControl::Observer {
public:
    void OnControlConnected() override { ++heard; }
    void OnControlDisconnected() override { ++heard; }
    void OnResponse(int32_t, int32_t) override { ++heard; }
    void OnCastStatus(const chromecast::CastStatus&) override { ++heard; }
    void OnMediaStatus(const chromecast::MediaStatus&) override { ++heard; }
    std::atomic<int> heard{0};
};

// cast.create answers willing; GrantResources 7, any other call 11.
TestServer::Handler Receiver(bool willing) {
    return [willing](const Request& r) {
        Answer a;
        a.result = r.op == "cast.create" ? Json::Value(willing)
                                         : Json::Value(r.args["op"] == "GrantResources" ? 7 : 11);
        return a;
    };
}

std::atomic<int> gGranted{0};
std::atomic<int> gVolume{0};

TEST(CastClientTest, CreateCallsCallbacksAndEventsWhateverTheReceiverDoes) {
    CountingObserver observer;
    const std::string path = TestDir() + "/cast.sock";
    EXPECT_EQ(nullptr, CastControl::Create(path, &observer)) << "no socket at all";
    // A socket file nobody listens on, as a crashed receiver leaves behind.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ::close(fd);
    EXPECT_EQ(nullptr, CastControl::Create(path, &observer)) << "stale socket";
    {
        TestServer refusing(path, Receiver(false));
        EXPECT_EQ(nullptr, CastControl::Create(path, &observer)) << "refused";
    }

    auto server = std::make_unique<TestServer>(path, Receiver(true));
    std::unique_ptr<CastControl> control(CastControl::Create(path, &observer));
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(11, control->SetMultizoneDelay(1234567890123));
    EXPECT_EQ(ParseJson(R"({"op":"SetMultizoneDelay","args":[1234567890123]})"),
              server->requests("cast.call").at(0).args);
    // The resource callback calls into the receiver before it returns.
    gGranted = 0;
    gVolume = 0;
    OnRequestResources = [] { gGranted = GrantResources(); };
    OnCastCliVolumeChange = [](int volume) { gVolume = volume; };
    server->send(ParseJson(R"({"event":"cast.callback","name":"request-resources"})"));
    ASSERT_TRUE(WaitFor([] { return gGranted == 7; }));

    // Each wrongly typed event closes the connection; the link comes back and makes its
    // control again.
    server->send(ParseJson(R"({"event":"cast.connected"})"));
    const char* const malformed[] = {
        R"({"event":"cast.status","name":5})",
        R"({"event":"cast.media","info":{"metadata":{"image":[]}}})",
        R"({"event":"cast.response","id":"1","code":0})",
        R"({"event":"cast.callback","name":"volume","value":"66"})",
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(malformed[i]);
        server->send(ParseJson(malformed[i]));
        ASSERT_TRUE(WaitFor([&] { return server->requests("cast.create").size() == i + 2; }));
    }
    EXPECT_EQ(1, observer.heard.load());

    // A destroyed control's observer hears nothing more; the callbacks still work.
    control.reset();
    server->send(ParseJson(R"({"event":"cast.disconnected"})"));
    server->send(ParseJson(R"({"event":"cast.callback","name":"volume","value":66})"));
    ASSERT_TRUE(WaitFor([] { return gVolume == 66; }));
    EXPECT_EQ(1, observer.heard.load());
    OnRequestResources = nullptr;
    OnCastCliVolumeChange = nullptr;

    control.reset(CastControl::Create(path, &observer));
    ASSERT_NE(nullptr, control);
    server.reset();
    EXPECT_EQ(-1, control->AcceptTos());
    EXPECT_EQ(-1, CastCliInit());
}

}  // namespace
}  // namespace orvix::hosttest
