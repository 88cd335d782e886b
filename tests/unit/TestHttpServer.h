// A one-route HTTP server on 127.0.0.1 for the setup-information fetch: answers every request
// with the status and body it was given, and counts them.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace orvix::test {

class TestHttpServer {
public:
    TestHttpServer(int status, std::string body) : mStatus(status), mBody(std::move(body)) {}
    ~TestHttpServer() { stop(); }

    bool start(uint16_t port = 8008) {
        mFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            listen(mFd, 8) != 0) {
            close(mFd);
            mFd = -1;
            return false;
        }
        mThread = std::thread([this] { serve(); });
        return true;
    }

    void stop() {
        mStopping = true;
        if (mThread.joinable()) mThread.join();
        if (mFd >= 0) close(mFd);
        mFd = -1;
    }

    int requests() const { return mRequests; }

    void setResponse(int status, const std::string& body) {
        std::lock_guard<std::mutex> lock(mLock);
        mStatus = status;
        mBody = body;
    }

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
            std::string response;
            {
                std::lock_guard<std::mutex> lock(mLock);
                response = "HTTP/1.1 " + std::to_string(mStatus) +
                           " X\r\nContent-Type: application/json\r\nContent-Length: " +
                           std::to_string(mBody.size()) + "\r\nConnection: close\r\n\r\n" + mBody;
            }
            send(client, response.data(), response.size(), MSG_NOSIGNAL);
            close(client);
            ++mRequests;
        }
    }

    std::mutex mLock;
    int mStatus;
    std::string mBody;
    int mFd = -1;
    std::atomic<bool> mStopping{false};
    std::atomic<int> mRequests{0};
    std::thread mThread;
};

}  // namespace orvix::test
