#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/CastLite.h"
#include "tests/host/TestServer.h"

namespace orvix::hosttest {
namespace {

using chromecast::CastControl;

std::string Text(const char* s) {
    return s ? s : "(null)";
}

class RecordingObserver : public CastControl::Observer {
public:
    void OnControlConnected() override { record("connected"); }
    void OnControlDisconnected() override { record("disconnected"); }
    void OnResponse(int32_t id, int32_t error) override {
        record("response " + std::to_string(id) + " " + std::to_string(error));
    }
    void OnCastStatus(const chromecast::CastStatus& s) override {
        std::ostringstream out;
        out << "status " << Text(s.name) << " " << s.castState << " " << Text(s.buildNumber) << " "
            << Text(s.locale) << " " << Text(s.timezone) << " " << s.usageReport << " "
            << (s.runningApp ? Text(s.runningApp->appName) : "no-app");
        record(out.str());
    }
    void OnMediaStatus(const chromecast::MediaStatus& s) override {
        std::ostringstream out;
        out << "media " << s.mediaSessionId << " " << s.playerState << " " << s.currentTime << " "
            << s.idleReason;
        if (const chromecast::MediaInfo* info = s.mediaInfo) {
            out << " info " << info->streamType << " " << info->duration;
            if (const chromecast::MediaMetadata* m = info->metadata) {
                out << " meta " << m->metadataType << " " << Text(m->title) << " "
                    << Text(m->musicTrack->artist) << " " << Text(m->musicTrack->albumName) << " "
                    << Text(m->musicTrack->albumArtist) << " " << m->imageCount;
                if (m->imageCount > 0) out << " " << Text(m->images[0].url);
            }
        }
        record(out.str());
    }
    Lines lines;

private:
    void record(const std::string& line) { lines.add(line); }
};

// cast.create answers willing; GrantResources 7, SetDeviceName 41, any other call 11.
Answer Receiver(const Request& r, bool willing) {
    Answer a;
    if (r.op == "cast.create") a.result = willing;
    if (r.op == "cast.call") {
        const Json::Value& op = r.args["op"];
        a.result = op == "GrantResources" ? 7 : op == "SetDeviceName" ? 41 : 11;
    }
    return a;
}

std::atomic<int> gGranted{0};
std::atomic<int> gVolume{0};

TEST(CastClientTest, CreateIsNullWithoutAWillingReceiver) {
    RecordingObserver observer;
    const std::string path = TestDir() + "/refusing.sock";
    EXPECT_EQ(nullptr, CastControl::Create(path, &observer)) << "no socket at all";

    // A socket file nobody listens on, as a crashed receiver leaves behind.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ::close(fd);
    EXPECT_EQ(nullptr, CastControl::Create(path, &observer)) << "stale socket";

    TestServer server(path, [](const Request& r) { return Receiver(r, false); });
    EXPECT_EQ(nullptr, CastControl::Create(path, &observer)) << "refused";
    EXPECT_EQ(ParseJson(R"({"path":")" + path + R"("})"),
              server.requests("cast.create").at(0).args);
}

TEST(CastClientTest, OperationsCallbacksAndObserverEventsSurviveARestart) {
    const std::string path = TestDir() + "/cast.sock";
    auto handler = [](const Request& r) { return Receiver(r, true); };
    auto server = std::make_unique<TestServer>(path, handler);
    RecordingObserver observer;
    std::unique_ptr<CastControl> control(CastControl::Create(path, &observer));
    ASSERT_NE(nullptr, control);

    EXPECT_EQ(41, control->SetDeviceName("Den"));
    EXPECT_EQ(11, control->SetMultizoneDelay(1234567890123));
    EXPECT_EQ(11, control->SetUsageReportOptIn(true));
    EXPECT_EQ(11, CastCliSyncVolume(30));
    const auto calls = server->requests("cast.call");
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(ParseJson(R"({"op":"SetDeviceName","args":["Den"]})"), calls[0].args);
    EXPECT_EQ(ParseJson(R"({"op":"SetMultizoneDelay","args":[1234567890123]})"), calls[1].args);
    EXPECT_EQ(ParseJson(R"({"op":"SetUsageReportOptIn","args":[true]})"), calls[2].args);
    EXPECT_EQ(ParseJson(R"({"op":"CastCliSyncVolume","args":[30]})"), calls[3].args);

    // The resource callback calls back into the receiver before it returns.
    OnRequestResources = [] { gGranted = GrantResources(); };
    OnCastCliVolumeChange = [](int volume) { gVolume = volume; };
    server->send(-1, ParseJson(R"({"event":"cast.callback","name":"request-resources"})"));
    server->send(-1, ParseJson(R"({"event":"cast.callback","name":"volume","value":55})"));
    ASSERT_TRUE(WaitUntil([] { return gGranted == 7 && gVolume == 55; }));

    for (const char* event : {
             R"({"event":"cast.connected"})",
             R"({"event":"cast.response","id":41,"code":0})",
             R"({"event":"cast.status","name":"Den","state":1,"build":null,"timezone":"UTC",
                 "usageReport":true,"app":"Music"})",
             R"({"event":"cast.status","name":"Den"})",
             R"({"event":"cast.media","session":3,"state":2,"time":2.5,"idleReason":1,
                 "info":{"streamType":1,"duration":200,"metadata":{"metadataType":3,
                 "title":"T","artist":"A","image":null}}})",
             R"({"event":"cast.media","session":4,"info":{"metadata":{"image":"http://x"}}})",
             R"({"event":"cast.status","name":5})",
         }) {
        server->send(-1, ParseJson(event));
    }
    // The last, wrongly typed, status closed the connection; the link reconnects and makes
    // its control again.
    ASSERT_TRUE(WaitUntil([&] { return server->requests("cast.create").size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{
                  "connected", "response 41 0", "status Den 1 (null) (null) UTC 1 Music",
                  "status Den 0 (null) (null) (null) 0 no-app",
                  "media 3 2 2.5 1 info 1 200 meta 3 T A (null) (null) 1 (null)",
                  "media 4 0 0 4 info 0 0 meta 0 (null) (null) (null) (null) 1 http://x"}),
              observer.lines.get());

    server.reset();
    EXPECT_EQ(-1, control->AcceptTos());
    EXPECT_EQ(-1, CastCliInit());
    server = std::make_unique<TestServer>(path, handler);
    ASSERT_TRUE(WaitUntil([&] { return !server->requests("cast.create").empty(); }));
    EXPECT_EQ(11, control->AcceptTos());

    // A destroyed control's observer hears nothing more; the callbacks still work.
    control.reset();
    server->send(-1, ParseJson(R"({"event":"cast.disconnected"})"));
    server->send(-1, ParseJson(R"({"event":"cast.callback","name":"volume","value":66})"));
    ASSERT_TRUE(WaitUntil([] { return gVolume == 66; }));
    EXPECT_EQ(6u, observer.lines.size());
    OnRequestResources = nullptr;
    OnCastCliVolumeChange = nullptr;
}

}  // namespace
}  // namespace orvix::hosttest
