// The receiver's consent record fetched from its setup service on 127.0.0.1:8008 and copied
// into the settings. The port is the real one: these run only inside the private sandbox
// (scripts/in-sandbox.sh).
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/DaemonTestSupport.h"
#include "tests/unit/TestHttpServer.h"

namespace orvix::test {

using model::Origin;

namespace {

constexpr int64_t kHalfSecond = 500000;
const std::string kPrefix = "castcontroller: ReadEurekaInfoCurl() ";
const std::string kEntered = kPrefix + "Entered ++";
const std::string kParseFailed =
    kPrefix + "Failed to parse the cast eureka info json object! error:";

std::string Tos(const std::string& stored, const std::string& fetched) {
    return kPrefix + "ENV ToS value: " + stored + " and cURL result:" + fetched;
}
std::string Crash(const std::string& stored, const std::string& fetched) {
    return kPrefix + "ENV crash value: " + stored + " and cURL result:" + fetched;
}
std::string NoBool(const std::string& member) {
    return kPrefix + member + " is not a boolean! setting left as it is";
}

class EurekaInfoTest : public DaemonTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "serves port 8008: run through scripts/in-sandbox.sh";
        }
        DaemonTest::SetUp();
        mController = new CastController();
    }

    // Stored values ("" leaves the key unset), then a fresh log and change record.
    void store(const std::string& tos, const std::string& crash) {
        world().settings().reset();
        if (!tos.empty()) world().settings().set(kGoogleCastTOS, tos, Origin::App);
        if (!crash.empty()) world().settings().set(kGoogleCastUsageReport, crash, Origin::App);
        mLog.clear();
    }

    Names written() { return since(0, "setting:"); }
};

}  // namespace

TEST_F(EurekaInfoTest, TheConsentIsCopiedWhereItDiffersAndAnythingElseChangesNothing) {
    const Names both = {"setting:GoogleCastTOS=true", "setting:GoogleCastUsageReport=false"};
    const struct {
        std::string body, tos, crash;  // the answer; the stored values
        Names lines, written;          // after the "Entered" line
    } cases[] = {
        // clang-format off
        // Without "opt_in" the crash member is not read: usage reports are off.
        {R"({"tos_accepted":true,"crash":true})", "false", "true",
         {Tos("false", "true"), Crash("true", "false")}, both},
        // With "opt_in" (whatever it holds) the top-level "crash" counts; unset keys read "".
        {R"({"opt_in":{"stats":false},"crash":true,"device":{"x":1}})", "", "false",
         {Tos("", "false"), Crash("false", "true")},
         {"setting:GoogleCastTOS=false", "setting:GoogleCastUsageReport=true"}},
        {R"({"tos_accepted":true,"opt_in":null,"crash":true})", "true", "true",
         {Tos("true", "true"), Crash("true", "true")}, {}},
        // Numbers and null read as booleans the way jsoncpp reads them.
        {R"({"tos_accepted":1,"opt_in":true,"crash":null})", "false", "true",
         {Tos("false", "true"), Crash("true", "false")}, both},
        // A member of another type leaves its own setting alone, and only that one.
        {R"({"tos_accepted":"yes","opt_in":true,"crash":true})", "false", "false",
         {NoBool("tos_accepted"), Crash("false", "true")}, {"setting:GoogleCastUsageReport=true"}},
        {R"({"tos_accepted":true,"opt_in":true,"crash":[true]})", "false", "false",
         {NoBool("crash"), Tos("false", "true")}, {"setting:GoogleCastTOS=true"}},
        // clang-format on
    };
    TestHttpServer http(200, "{}");
    ASSERT_TRUE(http.start());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        http.setResponse(200, c.body);
        store(c.tos, c.crash);
        mController->ReadEurekaInfoCurl();
        EXPECT_EQ(written(), c.written);
        Names lines = {kEntered};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(mLog.texts(), lines);
        for (const auto& line : mLog.lines()) {
            bool error = line.text.find("not a boolean") != std::string::npos;
            EXPECT_EQ(line.priority, error ? LOG_ERR : LOG_INFO) << line.text;
        }
    }

    // Anything but an object fails the parse and changes nothing.
    const struct {
        int status;
        std::string body;
        bool readerError;  // the line carries the reader's error text
    } failures[] = {
        // An error page is a finished transfer: one request, then the parse line.
        {500, "<html><body>Internal error</body></html>", true},
        {200, "", true},
        {200, std::string(5000, '['), true},  // deeper than the reader goes
        {200, "[true]", false},
        {200, "\"tos_accepted\"", false},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.body.substr(0, 60));
        http.setResponse(c.status, c.body);
        store("true", "false");
        mController->ReadEurekaInfoCurl();
        EXPECT_EQ(written(), Names{});
        std::vector<LogLine> lines = mLog.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1].priority, LOG_ERR);
        EXPECT_EQ(lines[1].text.rfind(kParseFailed, 0), 0u) << lines[1].text;
        EXPECT_EQ(lines[1].text.size() > kParseFailed.size(), c.readerError) << lines[1].text;
    }
    EXPECT_EQ(http.requests(), static_cast<int>(std::size(cases) + std::size(failures)));
}

TEST_F(EurekaInfoTest, RetriesQuietlyEveryHalfSecondAndStartsEachAttemptAfresh) {
    useTestClock();
    store("false", "true");
    std::thread fetch([&] { mController->ReadEurekaInfoCurl(); });

    // Nobody listens: half-second pauses and not a word.
    EXPECT_TRUE(WaitFor([&] { return mClock.pendingSleeps().size() == 1; }));
    mClock.advance(kHalfSecond);
    EXPECT_TRUE(
        WaitFor([&] { return mClock.sleeps().size() == 2 && mClock.pendingSleeps().size() == 1; }));
    EXPECT_EQ(mLog.texts(), Names{kEntered});

    // Then an answer cut short after part of its body, then the whole answer: the part must
    // not stay in front of it.
    TestHttpServer server(
        {"HTTP/1.1 200 OK\r\nContent-Length: 200\r\nConnection: close\r\n\r\n"
         R"({"tos_accepted":false,)",
         TestHttpServer::Response(200, R"({"tos_accepted":true})")});
    ASSERT_TRUE(server.start());
    mClock.advance(kHalfSecond);
    EXPECT_TRUE(
        WaitFor([&] { return server.requests() == 1 && mClock.pendingSleeps().size() == 1; }));
    mClock.advance(kHalfSecond);
    fetch.join();

    EXPECT_EQ(server.requests(), 2);
    EXPECT_EQ(mClock.sleeps(), (std::vector<int64_t>{kHalfSecond, kHalfSecond, kHalfSecond}));
    EXPECT_EQ(mLog.texts(), (Names{kEntered, Tos("false", "true"), Crash("true", "false")}));
    EXPECT_EQ(written(),
              (Names{"setting:GoogleCastTOS=true", "setting:GoogleCastUsageReport=false"}));
}

}  // namespace orvix::test
