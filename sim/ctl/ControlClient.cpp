#include "sim/ctl/ControlClient.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "sim/ctl/BatchFile.h"
#include "sim/model/JsonText.h"
#include "sim/server/Framing.h"
#include "sim/server/Server.h"

namespace orvix::sim {

namespace {

// Long enough for a timeline of a long run, short enough that a wedged simulator is noticed.
constexpr int kReplySeconds = 15;

int Fail(const std::string& error) {
    std::fprintf(stderr, "orvixsim: %s\n", error.c_str());
    return 1;
}

int Connect(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) return -1;
    std::memcpy(addr.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{};
    tv.tv_sec = kReplySeconds;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The reply frame; false with *error set.
bool ReadReply(int fd, Json::Value* reply, std::string* error) {
    errno = 0;
    unsigned char head[4];
    std::string body;
    bool whole = ::recv(fd, head, sizeof head, MSG_WAITALL) == sizeof head;
    if (whole && FrameLength(head) > kMaxControlFrame) {
        *error = "the simulator's reply is too large";
        return false;
    }
    if (whole) {
        body.resize(FrameLength(head));
        whole = ::recv(fd, &body[0], body.size(), MSG_WAITALL) == ssize_t(body.size());
    }
    if (!whole) {
        *error = errno == EAGAIN ? "no answer from the simulator"
                                 : "the simulator closed the connection without answering";
        return false;
    }
    if (!model::parseJson(body, reply) || !reply->isObject() || !(*reply)["ok"].isBool()) {
        *error = "the simulator's reply is not a reply";
        return false;
    }
    return true;
}

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

// Sends one request to the running simulator and returns its reply when it answered ok;
// otherwise prints the error and returns false.
bool Exchange(const Json::Value& request, Json::Value* reply) {
    const std::string path = RunDirFromEnvironment() + "/control.sock";
    const int fd = Connect(path);
    if (fd < 0) {
        Fail("simulator not running (cannot connect to " + path + ")");
        return false;
    }
    std::string error;
    const bool answered = SendAll(fd, FrameBytes(request)) && ReadReply(fd, reply, &error);
    ::close(fd);
    if (!answered) {
        Fail(error.empty() ? "cannot send the command" : error);
        return false;
    }
    if (!(*reply)["ok"].asBool()) {
        const Json::Value& text = (*reply)["error"];
        Fail(text.isString() ? text.asString() : "failed");
        return false;
    }
    return true;
}

// `batch FILE` ("-": standard input): every command of the file in one request.
int RunBatch(const std::vector<std::string>& argv) {
    if (argv.size() != 2) return Fail("usage: orvixsim batch FILE (- for standard input)");
    std::string text;
    if (argv[1] == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) return Fail("cannot read " + argv[1]);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<BatchCommand> commands;
    std::string error;
    if (!ParseBatch(text, &commands, &error)) return Fail(argv[1] + ": " + error);

    Json::Value request(Json::objectValue);
    request["id"] = 1;
    request["op"] = "batch";
    Json::Value& list = request["args"]["commands"] = Json::Value(Json::arrayValue);
    for (const BatchCommand& command : commands) {
        Json::Value entry(Json::objectValue);
        entry["line"] = command.line;
        entry["argv"] = Json::Value(Json::arrayValue);
        for (const std::string& arg : command.argv) entry["argv"].append(arg);
        list.append(entry);
    }
    Json::Value reply;
    if (!Exchange(request, &reply)) return 1;
    Print(model::compactJson(reply["result"]));
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int RunControlCommand(const std::vector<std::string>& argv) {
    if (!argv.empty() && argv[0] == "batch") return RunBatch(argv);
    Json::Value request(Json::objectValue);
    request["id"] = 1;
    request["op"] = "cli";
    request["args"]["argv"] = Json::Value(Json::arrayValue);
    for (const std::string& arg : argv) request["args"]["argv"].append(arg);
    Json::Value reply;
    if (!Exchange(request, &reply)) return 1;
    const Json::Value& result = reply["result"];
    if (argv.size() == 1 && argv[0] == "timeline" && result.isArray()) {
        for (const Json::Value& line : result) Print(line.isString() ? line.asString() : "");
    } else if (reply["text"].isString()) {
        Print(reply["text"].asString());
    } else {
        Print(model::compactJson(result));
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace orvix::sim
