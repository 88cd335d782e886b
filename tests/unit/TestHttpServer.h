// A one-route HTTP server on 127.0.0.1:8008 for the setup-information fetch: answers the n-th
// connection with the n-th raw response (the last one from then on).
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace orvix::test {

class TestHttpServer {
public:
    explicit TestHttpServer(std::vector<std::string> raw) : mResponses(std::move(raw)) {}
    ~TestHttpServer() {
        shutdown(mFd, SHUT_RDWR);  // ends the accept of a listening socket on Linux
        if (mThread.joinable()) mThread.join();
        close(mFd);
    }

    static std::string Ok(const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

    bool start() {
        mFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr{AF_INET, htons(8008), {htonl(INADDR_LOOPBACK)}, {}};
        if (bind(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) return false;
        if (listen(mFd, 8) != 0) return false;
        mThread = std::thread([this] {
            for (int client; (client = accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                // The request is read whole first: closing on unread bytes would reset it.
                std::string request;
                char buffer[4096];
                for (ssize_t n; request.find("\r\n\r\n") == std::string::npos &&
                                (n = recv(client, buffer, sizeof(buffer), 0)) > 0;) {
                    request.append(buffer, static_cast<size_t>(n));
                }
                const std::string& out = mResponses[std::min(mServed++, mResponses.size() - 1)];
                send(client, out.data(), out.size(), MSG_NOSIGNAL);
                close(client);
            }
        });
        return true;
    }

private:
    const std::vector<std::string> mResponses;
    int mFd = -1;
    size_t mServed = 0;  // by the server thread only
    std::thread mThread;
};

}  // namespace orvix::test
