// The controller thread's start-up and stop, with the real socket path and the setup service's
// port: these run only inside the private sandbox (scripts/in-sandbox.sh).
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/support/DaemonTest.h"

namespace orvix::test {

using fakes::Fakes;

namespace {

constexpr int64_t kSecond = 1000000;
const char* const kSocket = "/tmp/cast-control";

// A one-route HTTP server on 127.0.0.1:8008 for the setup-information fetch: answers the n-th
// connection with the n-th raw response (the last one from then on).
struct TestHttpServer {
    explicit TestHttpServer(std::vector<std::string> responses) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr{AF_INET, htons(8008), {htonl(INADDR_LOOPBACK)}, {}};
        listening =
            bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(fd, 8) == 0;
        thread = std::thread([this, responses, served = size_t{0}]() mutable {
            for (int client; (client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                // The request is read whole first: closing on unread bytes would reset it.
                std::string request;
                char buffer[4096];
                for (ssize_t n; request.find("\r\n\r\n") == std::string::npos &&
                                (n = recv(client, buffer, sizeof(buffer), 0)) > 0;) {
                    request.append(buffer, static_cast<size_t>(n));
                }
                const std::string& out = responses[std::min(served++, responses.size() - 1)];
                send(client, out.data(), out.size(), MSG_NOSIGNAL);
                close(client);
            }
        });
    }
    ~TestHttpServer() {
        shutdown(fd, SHUT_RDWR);  // ends the accept of a listening socket on Linux
        thread.join();
        close(fd);
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool listening = false;
    std::thread thread;
};

class StartUpTest : public DaemonTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "takes the daemon's fixed paths: run it through scripts/in-sandbox.sh";
        }
        unlink(kSocket);
        useManualClock();
    }

    bool sleeps(size_t count) {
        return fakes::WaitFor([&] { return clock.sleeps().size() >= count; });
    }
};

}  // namespace

// The setup service is down at first, then cuts its first answer short: each attempt starts
// afresh, half a second after the last. The suspend comes while the thread waits for it.
TEST_F(StartUpTest, StartsInOrderRetryingTheBusTheSocketAndTheFetchThenStopsOnASuspend) {
    world().bus().setReachable(false);
    mController = new CastController();
    mController->run("Orvix_CastController", 0, 0);
    // The looper runs before the bus is reached; the bus is tried every 3 s.
    ASSERT_TRUE(sleeps(1));
    EXPECT_NE(controller().handlerId(), 0);
    EXPECT_EQ(world().bus().listenersJson().size(), 0u);
    world().bus().setReachable(true);
    clock.advance(3 * kSecond);
    ASSERT_TRUE(sleeps(2));
    EXPECT_EQ(world().bus().listenersJson().size(), 1u);
    EXPECT_EQ(effects("cast:"), Lines());
    std::ofstream{kSocket};
    clock.advance(kSecond);
    ASSERT_TRUE(sleeps(3));
    // The whole answer counts, a megabyte of it.
    const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: ";
    const std::string big = "{\"pad\":\"" + std::string(1 << 20, 'p') + "\",\"tos_accepted\":true}";
    TestHttpServer http({head + "200\r\n\r\n{\"tos_accepted\":false,",
                         head + std::to_string(big.size()) + "\r\n\r\n" + big});
    ASSERT_TRUE(http.listening);
    clock.advance(kSecond / 2);
    ASSERT_TRUE(sleeps(4));
    clock.advance(kSecond / 2);
    ASSERT_TRUE(log.waitFor("wait for stop signal"));
    EXPECT_EQ(clock.sleeps(),
              (std::vector<int64_t>{3 * kSecond, kSecond, kSecond / 2, kSecond / 2}));
    EXPECT_EQ(effects("setting:"), (Lines{"GoogleCastTOS=true", "GoogleCastUsageReport=false"}));

    ASSERT_TRUE(Fakes().appWrite(kMidSuspendReason3, ""));
    controller().join();
    EXPECT_EQ(effects("cast:"), (Lines{R"(Create["/tmp/cast-control"])", "CastCliInit[]",
                                       "CastCliSyncVolume[30]", "Suspend[3]", "CastCliExit[]"}));
    // The looper and the bus outlive the controller thread.
    ASSERT_TRUE(
        Fakes().appWrite(kMidClientRequest, R"({"request_type":"get","id":"","device_uuid":""})"));
    EXPECT_TRUE(fakes::WaitFor([&] { return !effects("bus:572=").empty(); }));
}

// The daemon runs as a user of its own, for whom the socket's permissions count. Root passes
// every check, so the waiting thread takes on another user, for itself only.
TEST_F(StartUpTest, TheSocketIsWaitedForUntilItMayBeReadAndWritten) {
    constexpr uid_t kDaemonUser = 65534;
    mController = new CastController();
    int result = -1;
    std::thread waiter([&] {
        if (syscall(SYS_setresuid, kDaemonUser, kDaemonUser, kDaemonUser) == 0) {
            result = controller().WaitForCastConnection();
        }
    });
    EXPECT_TRUE(sleeps(1));  // no socket yet
    const struct {
        mode_t mode;
        uid_t owner;
    } rows[] = {{0600, 0}, {0400, kDaemonUser}, {0200, kDaemonUser}, {0600, kDaemonUser}};
    for (size_t i = 0; i < std::size(rows); ++i) {
        std::ofstream{kSocket};
        EXPECT_TRUE(chown(kSocket, rows[i].owner, 0) == 0 && chmod(kSocket, rows[i].mode) == 0);
        clock.advance(kSecond);
        EXPECT_TRUE(i + 1 == std::size(rows) || sleeps(i + 2)) << std::oct << rows[i].mode;
    }
    waiter.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(clock.sleeps(), std::vector<int64_t>(4, kSecond));
}

}  // namespace orvix::test
