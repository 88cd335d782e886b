// A one-route HTTP server on 127.0.0.1:8008 for the setup-information fetch: answers the n-th
// connection with the n-th raw response (the last one from then on), and counts them.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvix::test {

class TestHttpServer {
public:
    explicit TestHttpServer(std::vector<std::string> raw) : mResponses(std::move(raw)) {}
    TestHttpServer(int status, const std::string& body) : mResponses{Response(status, body)} {}
    ~TestHttpServer() {
        mStopping = true;
        if (mThread.joinable()) mThread.join();
        if (mFd >= 0) close(mFd);
    }

    static std::string Response(int status, const std::string& body) {
        return "HTTP/1.1 " + std::to_string(status) +
               " X\r\nContent-Type: application/json\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
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

    int requests() const { return mRequests; }

    void setResponse(int status, const std::string& body) {
        std::lock_guard<std::mutex> lock(mLock);
        mResponses = {Response(status, body)};
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
                // Counted before the answer goes out, so the client never finds it missing.
                std::lock_guard<std::mutex> lock(mLock);
                size_t index = static_cast<size_t>(mRequests++);
                response = mResponses[std::min(index, mResponses.size() - 1)];
            }
            send(client, response.data(), response.size(), MSG_NOSIGNAL);
            close(client);
        }
    }

    std::mutex mLock;
    std::vector<std::string> mResponses;
    int mFd = -1;
    std::atomic<bool> mStopping{false};
    std::atomic<int> mRequests{0};
    std::thread mThread;
};

}  // namespace orvix::test
