// The device-side models where the control interface cannot reach: a settings file that is
// broken or cannot be written, and the forms of syslog datagram the daemon never sends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "sim/model/World.h"

namespace orvix::model {
namespace {

TEST(ModelSettings, BrokenFileLeavesTheStoreAloneAndSavesLeaveNoTemporaryFile) {
    char dir[] = "/tmp/orvix-model-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string path = std::string(dir) + "/settings.json";
    World world;
    SettingsStore& s = world.settings();
    // A first start has no file: an empty store.
    ASSERT_TRUE(s.load(path, nullptr));
    s.setPersistPath(path);
    ASSERT_TRUE(s.set("TimeZone", "UTC \"quoted\"\n", Origin::App));
    EXPECT_NE(0, access((path + ".tmp").c_str(), F_OK));
    World reloaded;
    ASSERT_TRUE(reloaded.settings().load(path, nullptr));
    EXPECT_EQ("UTC \"quoted\"\n", reloaded.settings().value("TimeZone"));

    for (const char* text : {"{\"TimeZone\":", "[\"a\"]", ""}) {
        std::ofstream(path) << text;
        std::string error;
        EXPECT_FALSE(s.load(path, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ("UTC \"quoted\"\n", s.value("TimeZone")) << text;
    }
    // Members that are not strings are skipped, the rest is taken.
    std::ofstream(path) << R"({"TimeZone":"Asia/Tokyo","Odd":3})";
    ASSERT_TRUE(s.load(path, nullptr));
    EXPECT_EQ((std::map<std::string, std::string>{{"TimeZone", "Asia/Tokyo"}}), s.values());
    EXPECT_FALSE(s.save(std::string(dir) + "/missing/settings.json", nullptr));
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(ModelSyslog, DatagramsWithoutTimeIdentOrPidAreTakenAndThoseWithoutPriorityAreNot) {
    // The expected entry as "priority|ident|pid|text", or "refused".
    const std::pair<const char*, const char*> rows[] = {
        {"<11>Dec 15 01:02:03 just text", "3||0|just text"},
        {"<13>tag: no time", "5|tag|0|no time"},
        {"<x>bad", "refused"},
    };
    for (const auto& [datagram, expected] : rows) {
        SyslogEntry e;
        const bool taken = SyslogCollector::parseDatagram(datagram, &e);
        EXPECT_EQ(expected, taken ? std::to_string(e.priority) + "|" + e.ident + "|" +
                                        std::to_string(e.pid) + "|" + e.text
                                  : "refused")
            << datagram;
    }
}

}  // namespace
}  // namespace orvix::model
