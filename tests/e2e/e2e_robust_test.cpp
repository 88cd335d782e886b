// Nothing a client sends can crash or hang the simulator: garbage is disconnected, bad
// requests get error replies, and a client that stops reading is dropped.
#include "tests/e2e/E2eSupport.h"
#include "tests/e2e/RawSockets.h"

namespace orvix::e2e {
namespace {

class RobustnessTest : public E2eTest {
protected:
    void expectAlive() {
        const CliResult r = cli({"bus", "listeners"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(mSim.running());
    }
};

TEST_F(RobustnessTest, GarbageIsDisconnectedAndBadRequestsGetErrors) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    const std::string device = mRunDir + "/device.sock";
    const std::vector<std::string> garbage{
        std::string("hello\0\xff world, no frame here", 26),
        Frame("[1,2,3]"),
        Frame("{not json"),
        Frame(R"({"op":"bus.read","args":{"mid":1}})"),  // no id
        Frame(std::string(200000, '[') + std::string(200000, ']')),
        std::string("\xff\xff\xff\xff", 4),  // a length beyond the limit
    };
    for (const std::string& path :
         {device, std::string("/tmp/cast-control"), mRunDir + "/control.sock"}) {
        for (const std::string& bytes : garbage) {
            RawSocket s;
            ASSERT_TRUE(s.connectUnix(path));
            ASSERT_TRUE(s.sendAll(bytes));
            EXPECT_TRUE(s.closedByPeer()) << path;
        }
        expectAlive();
    }

    RawSocket client;
    ASSERT_TRUE(client.connectUnix(device));
    const std::vector<std::string> requests{
        R"({"id":1,"op":"no.such.op","args":{}})",
        R"({"id":2,"op":"bus.read","args":{"mid":"x"}})",
        R"({"id":3,"op":"bus.register","args":{"mids":[1,"two"]}})",
        R"({"id":4,"op":"source.call","args":{"op":"PlayMySource","args":["24"]}})",
        R"({"id":5,"op":"ui.update","args":{"op":"metadata","fields":[{"key":1}]}})",
        R"({"id":6,"op":"cast.create","args":{"path":"/tmp/cast-control"}})",
    };
    for (const std::string& request : requests) {
        ASSERT_TRUE(client.sendAll(Frame(request)));
        const Json::Value reply = client.readFrame();
        EXPECT_FALSE(reply["ok"].asBool()) << request;
        EXPECT_TRUE(reply["error"].isString()) << request;
    }
    ASSERT_TRUE(client.sendAll(Frame(R"({"id":7,"op":"bus.verify"})")));
    EXPECT_TRUE(client.readFrame()["result"].asBool());

    RawSocket http;
    ASSERT_TRUE(http.connectLoopback(8008));
    http.sendAll("garbage\r\n\r\n");
    EXPECT_EQ(http.readToEnd().rfind("HTTP/1.1 400 ", 0), 0u);
    RawSocket flood;
    ASSERT_TRUE(flood.connectLoopback(8008));
    flood.sendAll(std::string(20000, 'x'));
    EXPECT_EQ(flood.readToEnd().rfind("HTTP/1.1 400 ", 0), 0u);
    expectAlive();
}

TEST_F(RobustnessTest, AClientThatStopsReadingIsDroppedNotWaitedFor) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    RawSocket stuck;
    ASSERT_TRUE(stuck.connectUnix(mRunDir + "/device.sock"));
    ASSERT_TRUE(stuck.sendAll(Frame(R"({"id":1,"op":"bus.register","args":{"mids":[5]}})")));
    ASSERT_TRUE(stuck.readFrame()["ok"].asBool());
    ASSERT_EQ(json({"bus", "listeners"}).size(), 1u);

    // Alerts of 1 MiB each pile up for the client that never reads again.
    RawSocket writer;
    ASSERT_TRUE(writer.connectUnix(mRunDir + "/device.sock"));
    Json::Value write(Json::objectValue);
    write["op"] = "bus.write";
    write["args"]["mid"] = 5;
    write["args"]["payload"] = std::string(1 << 20, 'p');
    write["args"]["scope"] = "remote";
    for (int i = 1; i <= 24; ++i) {
        write["id"] = i;
        ASSERT_TRUE(writer.sendFrame(write));
        ASSERT_TRUE(writer.readFrame()["ok"].asBool());
    }
    EXPECT_TRUE(waitJson({"bus", "listeners"}, [](const Json::Value& l) { return l.empty(); }));
    expectAlive();
}

}  // namespace
}  // namespace orvix::e2e
