// The control CLI's receiver-side forms (cast, eureka), the syslog and timeline views, and
// the CLI's errors.
#include <algorithm>
#include <fstream>

#include "tests/e2e/E2eSupport.h"
#include "tests/e2e/RawSockets.h"

namespace orvix::e2e {
namespace {

Json::Value Args(std::initializer_list<Json::Value> values) {
    Json::Value list(Json::arrayValue);
    for (const Json::Value& v : values) list.append(v);
    return list;
}

Json::Value Last(const Json::Value& log, const std::string& op) {
    const auto entries = WithOp(log, op);
    return entries.empty() ? Json::Value() : entries.back();
}

std::string HttpGet(const std::string& path, const std::string& method = "GET") {
    RawSocket http;
    if (!http.connectLoopback(8008)) return "refused";
    http.sendAll(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    return http.readToEnd();
}

class CastCliTest : public E2eTest {
protected:
    // Polls MID 572 until a reply naming uuid arrives; returns its payload.
    std::string waitReply(const std::string& uuid) {
        std::string payload;
        waitJson({"bus", "read", "572"}, [&](const Json::Value& r) {
            payload = r["payload"].asString();
            return payload.find("\"device_uuid\":\"" + uuid + "\"") != std::string::npos;
        });
        return payload;
    }
};

TEST_F(CastCliTest, ObserverEventsReachTheDaemon) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    EXPECT_EQ(json({"cast", "connect"})["event"].asString(), "connect");
    ASSERT_TRUE(waitCastOp("RequestCastStatus"));
    EXPECT_EQ(Last(json({"cast", "log"}), "SetDeviceName")["args"], Args({"OrvixSync_"}));

    const Json::Value status =
        json({"cast", "status", "--name", "Kitchen", "--build", "1.56.500", "--locale", "en-GB",
              "--usage-report", "1", "--state", "6", "--app", "Radio"});
    EXPECT_EQ(status["status"]["name"].asString(), "Kitchen");
    EXPECT_TRUE(status["status"]["timezone"].isNull());
    ASSERT_TRUE(waitJson({"bus", "read", "7"}, [](const Json::Value& r) {
        return r["payload"].asString() == "1.56.500";
    }));
    EXPECT_EQ(json({"bus", "read", "90"})["payload"].asString(), "Kitchen");
    ASSERT_TRUE(waitJson({"env", "get", "GoogleCastUsageReport"},
                         [](const Json::Value& r) { return r["value"].asString() == "true"; }));
    EXPECT_EQ(json({"env", "get", "GoogleCastFirmwareVersion"})["value"].asString(), "1.56.500");
    EXPECT_EQ(json({"env", "get", "GoogleCastFactoryLocale"})["value"].asString(), "en-GB");
    EXPECT_EQ(json({"env", "get", "DeviceFriendlyName"})["value"].asString(), "Kitchen");

    EXPECT_EQ(json({"cast", "ready"})["event"].asString(), "ready");
    const Json::Value ready = waitSyslog("castcontroller: handleOnCliReady() called ++");
    EXPECT_EQ(ready["priority"].asInt(), 6);

    json({"cast", "volume", "57"});
    ASSERT_TRUE(waitJson({"source", "log"}, [](const Json::Value& l) {
        return Last(l, "UpdateAppVolume")["args"] == Args({"57"});
    }));
    EXPECT_EQ(json({"cast", "mute", "1"})["value"].asInt(), 1);
    ASSERT_TRUE(waitJson({"source", "log"}, [](const Json::Value& l) {
        return Last(l, "UpdateAppMuteStat")["args"] == Args({true});
    }));
    // Muted from the cast side, a device volume change unmutes the mixer too.
    json({"cast", "request-resources"});
    ASSERT_TRUE(waitCastOp("GrantResources"));
    json({"source", "volume", "35"});
    ASSERT_TRUE(WaitFor([&] {
        return readFile(mDir + "/amixer.log").find("set Master unmute") != std::string::npos;
    }));

    json({"cast", "release-resources"});
    ASSERT_TRUE(waitJson({"source", "log"}, [](const Json::Value& l) {
        return !WithOp(l, "DisconnectMySource").empty();
    }));
    json({"cast", "disconnect"});
    EXPECT_FALSE(
        waitSyslog("castcontroller: castcontrol::onMessageReceived() onControlDisConnected!")
            .isNull());
}

TEST_F(CastCliTest, ResponsesAutoResponsesAndRefusals) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    json({"bus", "write", "571",
          R"({"request_type":"set","id":"tos","device_uuid":"phone-2","action":"accepted",)"
          R"("user_ip":"10.0.0.2"})"});
    ASSERT_TRUE(waitCastOp("AcceptTos"));
    const int id = Last(json({"cast", "log"}), "AcceptTos")["result"].asInt();
    ASSERT_GT(id, 0);
    const Json::Value respond = json({"cast", "respond", std::to_string(id), "0"});
    EXPECT_EQ(respond["requestId"].asInt(), id);
    EXPECT_NE(waitReply("phone-2").find("\"status\""), std::string::npos);
    ASSERT_TRUE(waitJson({"env", "get", "GoogleCastTOS"},
                         [](const Json::Value& r) { return r["value"].asString() == "true"; }));

    EXPECT_EQ(json({"cast", "auto-respond", "0"})["autoRespond"].asInt(), 0);
    json({"bus", "write", "571",
          R"({"request_type":"set","id":"crash_report","device_uuid":"phone-3",)"
          R"("action":"accepted","user_ip":"10.0.0.3"})"});
    EXPECT_NE(waitReply("phone-3").find("crash_report"), std::string::npos);
    EXPECT_TRUE(json({"cast", "auto-respond", "off"})["autoRespond"].isNull());

    EXPECT_EQ(json({"cast", "refuse", "SetUsageReportOptIn"})["refused"],
              Args({"SetUsageReportOptIn"}));
    json({"bus", "write", "571",
          R"({"request_type":"set","id":"crash_report","device_uuid":"phone-4",)"
          R"("action":"refused","user_ip":"10.0.0.4"})"});
    ASSERT_TRUE(waitJson({"cast", "log"}, [](const Json::Value& l) {
        return WithOp(l, "SetUsageReportOptIn").size() == 2;
    }));
    EXPECT_EQ(Last(json({"cast", "log"}), "SetUsageReportOptIn")["result"].asInt(), -1);
    EXPECT_EQ(json({"cast", "refuse", "all"})["refused"].size(), 15u);
    EXPECT_EQ(json({"cast", "refuse", "none"})["refused"].size(), 0u);
    EXPECT_EQ(cli({"cast", "refuse", "Nonsense"}).status, 1);
}

TEST_F(CastCliTest, SetupServiceAnswersAsToldAndTheDaemonWaitsForIt) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    const std::string ok = HttpGet("/setup/eureka_info");
    EXPECT_EQ(ok.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << ok;
    EXPECT_NE(ok.find("Content-Length: 2\r\n"), std::string::npos);
    EXPECT_NE(ok.find("Connection: close\r\n\r\n{}"), std::string::npos);
    EXPECT_EQ(HttpGet("/other").rfind("HTTP/1.1 404 ", 0), 0u);
    EXPECT_EQ(HttpGet("/setup/eureka_info", "POST").rfind("HTTP/1.1 405 ", 0), 0u);

    EXPECT_EQ(json({"eureka", "status", "503"})["status"].asInt(), 503);
    EXPECT_EQ(HttpGet("/setup/eureka_info").rfind("HTTP/1.1 503 ", 0), 0u);
    EXPECT_EQ(json({"eureka", "status", "200"})["status"].asInt(), 200);
    EXPECT_FALSE(json({"eureka", "down"})["up"].asBool());
    EXPECT_EQ(HttpGet("/setup/eureka_info"), "refused");

    // Down at the daemon's start: it retries until the service is up, then stores the answer.
    ASSERT_NO_FATAL_FAILURE(startDaemon());
    ASSERT_FALSE(waitSyslog("castcontroller: ReadEurekaInfoCurl() Entered ++").isNull());
    EXPECT_EQ(json({"env", "get", "GoogleCastTOS"})["value"].asString(), "");
    const std::string body = R"({"tos_accepted":true,"opt_in":{},"crash":true})";
    EXPECT_EQ(json({"eureka", "body", body})["body"].asString(), body);
    EXPECT_TRUE(json({"eureka", "up"})["up"].asBool());
    ASSERT_TRUE(waitJson({"env", "get", "GoogleCastUsageReport"},
                         [](const Json::Value& r) { return r["value"].asString() == "true"; }));
    EXPECT_EQ(json({"env", "get", "GoogleCastTOS"})["value"].asString(), "true");

    const Json::Value log = json({"eureka", "log"});
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0]["path"].asString(), "/setup/eureka_info");
    EXPECT_EQ(log[1]["status"].asInt(), 503);
}

TEST_F(CastCliTest, SyslogRecordsDatagramsAndTimelineMergesEverything) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_TRUE(SendDatagram("/dev/log", "garbage without a priority"));
    ASSERT_TRUE(SendDatagram("/dev/log", "<142>Dec  6 03:50:58 tester[77]: hello there"));
    const Json::Value line = waitSyslog("hello there");
    ASSERT_FALSE(line.isNull());
    EXPECT_EQ(line["priority"].asInt(), 6);
    EXPECT_EQ(line["facility"].asInt(), 17);
    EXPECT_EQ(line["ident"].asString(), "tester");
    EXPECT_EQ(line["pid"].asInt(), 77);
    EXPECT_EQ(json({"syslog"}).size(), 1u);
    json({"bus", "write", "90", "Hall"});

    const CliResult text = cli({"timeline"});
    ASSERT_EQ(text.status, 0);
    // Plain lines, not a JSON document.
    EXPECT_NE(text.out.front(), '[');
    const size_t syslogAt = text.out.find("syslog   info tester: hello there\n");
    const size_t busAt = text.out.find("bus      app wrote MID 90");
    EXPECT_NE(syslogAt, std::string::npos) << text.out;
    EXPECT_NE(busAt, std::string::npos) << text.out;
    EXPECT_LT(syslogAt, busAt);
    const Json::Value lines = json({"timeline", "--json"});
    ASSERT_TRUE(lines.isArray());
    EXPECT_EQ(lines.size(),
              static_cast<Json::ArrayIndex>(std::count(text.out.begin(), text.out.end(), '\n')));
}

TEST_F(CastCliTest, CliErrorsGoToStderrWithExitStatus1) {
    const CliResult absent = cli({"bus", "listeners"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("simulator not running"), std::string::npos);
    EXPECT_TRUE(absent.out.empty());

    ASSERT_NO_FATAL_FAILURE(startSim());
    const std::vector<std::vector<std::string>> bad{
        {"frobnicate"},
        {"bus", "read", "five"},
        {"bus", "write", "571"},
        {"env", "set", "OnlyKey"},
        {"source", "grant", "maybe"},
        {"cast", "media", "--time", "1"},
        {"cast", "media", "--state", "2", "--time", "1", "--title", "No stream"},
        {"cast", "status", "--usage-report", "2"},
        {"eureka", "status", "abc"},
        {"timeline", "extra"},
    };
    for (const auto& args : bad) {
        const CliResult r = cli(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_FALSE(r.err.empty()) << args[0];
        EXPECT_TRUE(r.out.empty()) << args[0];
    }
    const CliResult noControl = cli({"cast", "connect"});
    EXPECT_EQ(noControl.status, 1);
    EXPECT_NE(noControl.err.find("no cast control connected"), std::string::npos);
    // Refused events are not recorded as sent.
    EXPECT_EQ(cli({"timeline"}).out.find("OnControlConnected"), std::string::npos);

    const CliResult help = cli({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("cast media --state N --time T"), std::string::npos);
}

}  // namespace
}  // namespace orvix::e2e
