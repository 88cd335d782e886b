// The receiver's consent record fetched from its setup service on 127.0.0.1:8008 and copied
// into the settings. The port is the real one: these run only inside the private sandbox
// (scripts/in-sandbox.sh).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/DaemonTestSupport.h"
#include "tests/unit/TestHttpServer.h"

using orvix::fakes::ManualClock;
using orvix::fakes::WaitFor;
using orvix::model::Origin;
using orvix::test::TestHttpServer;

namespace {

constexpr int64_t kHalfSecond = 500000;

// Answers the n-th connection with the n-th raw response (the last one from then on), so a
// test can cut an answer short.
class RawHttpServer {
public:
    explicit RawHttpServer(std::vector<std::string> responses) : mResponses(std::move(responses)) {}
    ~RawHttpServer() {
        mStopping = true;
        if (mThread.joinable()) mThread.join();
        if (mFd >= 0) close(mFd);
    }

    bool start() {
        mFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(8008);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            listen(mFd, 8) != 0) {
            return false;
        }
        mThread = std::thread([this] { serve(); });
        return true;
    }

    int connections() const { return mConnections; }

private:
    void serve() {
        while (!mStopping) {
            pollfd pfd = {mFd, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0) continue;
            int client = accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(client, buffer, sizeof(buffer), 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            size_t index =
                std::min(static_cast<size_t>(mConnections.load()), mResponses.size() - 1);
            const std::string& response = mResponses[index];
            send(client, response.data(), response.size(), MSG_NOSIGNAL);
            close(client);
            ++mConnections;
        }
    }

    const std::vector<std::string> mResponses;
    int mFd = -1;
    std::atomic<bool> mStopping{false};
    std::atomic<int> mConnections{0};
    std::thread mThread;
};

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

class EurekaInfoTest : public orvix::test::DaemonTest {
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

    // The daemon's writes as "key=value".
    std::vector<std::string> written() {
        std::vector<std::string> out;
        for (const auto& change : world().settings().changes()) {
            if (change.from == Origin::Daemon) out.push_back(change.key + "=" + change.value);
        }
        return out;
    }

    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const auto& line : mLog.lines()) out.push_back(line.text);
        return out;
    }

    void expectAllInfo() {
        for (const auto& line : mLog.lines()) EXPECT_EQ(line.priority, LOG_INFO) << line.text;
    }

    static std::string tosLine(const std::string& stored, const std::string& fetched) {
        return "castcontroller: ReadEurekaInfoCurl() ENV ToS value: " + stored +
               " and cURL result:" + fetched;
    }
    static std::string crashLine(const std::string& stored, const std::string& fetched) {
        return "castcontroller: ReadEurekaInfoCurl() ENV crash value: " + stored +
               " and cURL result:" + fetched;
    }

    const std::string kEntered = "castcontroller: ReadEurekaInfoCurl() Entered ++";
    const std::string kParseFailed =
        "castcontroller: ReadEurekaInfoCurl() Failed to parse the cast eureka info json object! "
        "error:";
};

}  // namespace

TEST_F(EurekaInfoTest, TheReceiversConsentIsCopiedWhereItDiffers) {
    TestHttpServer http(200, R"({"tos_accepted":true,"crash":true})");
    ASSERT_TRUE(http.start());

    // Without "opt_in" the crash member is not read: usage reports are off.
    store("false", "true");
    mController->ReadEurekaInfoCurl();
    EXPECT_EQ(texts(), (std::vector<std::string>{kEntered, tosLine("false", "true"),
                                                 crashLine("true", "false")}));
    expectAllInfo();
    EXPECT_EQ(written(),
              (std::vector<std::string>{"GoogleCastTOS=true", "GoogleCastUsageReport=false"}));

    // With "opt_in" (whatever it holds) the top-level "crash" counts; unset keys read "".
    http.setResponse(200, R"({"opt_in":{"stats":false},"crash":true,"device":{"x":1}})");
    store("", "false");
    mController->ReadEurekaInfoCurl();
    EXPECT_EQ(texts(), (std::vector<std::string>{kEntered, tosLine("", "false"),
                                                 crashLine("false", "true")}));
    EXPECT_EQ(written(),
              (std::vector<std::string>{"GoogleCastTOS=false", "GoogleCastUsageReport=true"}));

    // Equal values: the two lines, no write.
    http.setResponse(200, R"({"tos_accepted":true,"opt_in":null,"crash":true})");
    store("true", "true");
    mController->ReadEurekaInfoCurl();
    EXPECT_EQ(texts(), (std::vector<std::string>{kEntered, tosLine("true", "true"),
                                                 crashLine("true", "true")}));
    EXPECT_TRUE(written().empty());

    // Numbers and null read as jsoncpp reads them as booleans.
    http.setResponse(200, R"({"tos_accepted":1,"opt_in":true,"crash":null})");
    store("false", "true");
    mController->ReadEurekaInfoCurl();
    EXPECT_EQ(written(),
              (std::vector<std::string>{"GoogleCastTOS=true", "GoogleCastUsageReport=false"}));
    EXPECT_EQ(http.requests(), 4);
}

TEST_F(EurekaInfoTest, AnswersThatAreNoObjectChangeNothing) {
    TestHttpServer http(500, "<html><body>Internal error</body></html>");
    ASSERT_TRUE(http.start());
    store("true", "false");
    mController->ReadEurekaInfoCurl();
    // An error page is a finished transfer: one request, then the parse line.
    EXPECT_EQ(http.requests(), 1);
    std::vector<orvix::test::LogLine> lines = mLog.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].priority, LOG_ERR);
    EXPECT_EQ(lines[1].text.rfind(kParseFailed, 0), 0u);
    EXPECT_GT(lines[1].text.size(), kParseFailed.size());
    EXPECT_TRUE(written().empty());

    // Parsed, but no object: the line with an empty error text.
    for (const char* body : {"[true]", "\"tos_accepted\"", "true"}) {
        SCOPED_TRACE(body);
        http.setResponse(200, body);
        store("true", "false");
        mController->ReadEurekaInfoCurl();
        EXPECT_EQ(texts(), (std::vector<std::string>{kEntered, kParseFailed}));
        EXPECT_TRUE(written().empty());
    }

    // An empty body, and one nested past the reader's depth limit, fail the parse too.
    for (const std::string& body : {std::string(), std::string(5000, '[')}) {
        http.setResponse(200, body);
        store("true", "false");
        mController->ReadEurekaInfoCurl();
        ASSERT_EQ(mLog.lines().size(), 2u);
        EXPECT_EQ(mLog.lines()[1].text.rfind(kParseFailed, 0), 0u);
        EXPECT_TRUE(written().empty());
    }
}

TEST_F(EurekaInfoTest, AMemberThatIsNoBooleanLeavesItsSettingAlone) {
    TestHttpServer http(200, R"({"tos_accepted":"yes","opt_in":true,"crash":true})");
    ASSERT_TRUE(http.start());
    store("false", "false");
    mController->ReadEurekaInfoCurl();
    EXPECT_TRUE(
        mLog.has("castcontroller: ReadEurekaInfoCurl() tos_accepted is not a boolean! "
                 "setting left as it is",
                 LOG_ERR));
    EXPECT_FALSE(mLog.has("ENV ToS value"));
    EXPECT_EQ(written(), (std::vector<std::string>{"GoogleCastUsageReport=true"}));

    http.setResponse(200, R"({"tos_accepted":true,"opt_in":true,"crash":[true]})");
    store("false", "false");
    mController->ReadEurekaInfoCurl();
    EXPECT_TRUE(
        mLog.has("castcontroller: ReadEurekaInfoCurl() crash is not a boolean! setting "
                 "left as it is",
                 LOG_ERR));
    EXPECT_FALSE(mLog.has("ENV crash value"));
    EXPECT_EQ(written(), (std::vector<std::string>{"GoogleCastTOS=true"}));

    http.setResponse(200, R"({"tos_accepted":{"v":true}})");
    store("true", "true");
    mController->ReadEurekaInfoCurl();
    EXPECT_EQ(written(), (std::vector<std::string>{"GoogleCastUsageReport=false"}));
}

TEST_F(EurekaInfoTest, RetriesQuietlyEveryHalfSecondAndStartsEachAttemptAfresh) {
    ManualClock clock;
    android::SetSystemClock(&clock);
    store("false", "true");
    std::thread fetch([&] { mController->ReadEurekaInfoCurl(); });

    // Nobody listens: half-second pauses and not a word.
    EXPECT_TRUE(WaitFor([&] { return clock.pendingSleeps().size() == 1; }));
    clock.advance(kHalfSecond);
    EXPECT_TRUE(
        WaitFor([&] { return clock.sleeps().size() == 2 && clock.pendingSleeps().size() == 1; }));
    EXPECT_EQ(texts(), (std::vector<std::string>{kEntered}));

    // Then an answer cut short after part of its body, then the whole answer: the part must
    // not stay in front of it.
    std::string body = R"({"tos_accepted":true})";
    std::string cut =
        "HTTP/1.1 200 OK\r\nContent-Length: 200\r\nConnection: close\r\n\r\n"
        R"({"tos_accepted":false,)";
    RawHttpServer server({cut, Ok(body)});
    ASSERT_TRUE(server.start());
    clock.advance(kHalfSecond);
    EXPECT_TRUE(
        WaitFor([&] { return server.connections() == 1 && clock.pendingSleeps().size() == 1; }));
    clock.advance(kHalfSecond);
    fetch.join();
    android::SetSystemClock(nullptr);

    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(clock.sleeps(), (std::vector<int64_t>{kHalfSecond, kHalfSecond, kHalfSecond}));
    EXPECT_EQ(texts(), (std::vector<std::string>{kEntered, tosLine("false", "true"),
                                                 crashLine("true", "false")}));
    EXPECT_EQ(written(),
              (std::vector<std::string>{"GoogleCastTOS=true", "GoogleCastUsageReport=false"}));
}
