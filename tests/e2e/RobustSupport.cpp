#include "tests/e2e/RobustSupport.h"

#include <dirent.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/e2e/RawSockets.h"

namespace orvix::e2e {

namespace {

const char* const kGetResponseLine =
    "castcontroller: HandleClientGetRequest() response to cast client GET request is ";

}  // namespace

std::string BatchWord(const std::string& text) {
    std::string word = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            word += '\\';
            word += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            word += hex;
        } else {
            word += c;
        }
    }
    return word + "\"";
}

std::string GetRequest(const std::string& uuid) {
    return R"({"request_type":"get","id":"tos","device_uuid":")" + uuid + R"("})";
}

std::string GetLine(const std::string& uuid) {
    return "bus write 571 " + BatchWord(GetRequest(uuid));
}

bool ReadProcessFigures(pid_t pid, ProcessFigures* out) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream status(base + "/status");
    if (!status) return false;
    *out = ProcessFigures();
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "Threads:") fields >> out->threads;
        if (key == "VmRSS:") fields >> out->rssKiB;
    }
    for (const char* folder : {"/fd", "/task"}) {
        DIR* dir = ::opendir((base + folder).c_str());
        if (dir == nullptr) return false;
        int count = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            ++count;
            if (folder[1] == 't') {
                std::ifstream comm(base + "/task/" + name + "/comm");
                std::string threadName;
                std::getline(comm, threadName);
                out->threadNames.push_back(threadName);
            }
        }
        ::closedir(dir);
        if (folder[1] == 'f') out->fds = count;
    }
    return out->threads > 0 && out->rssKiB > 0;
}

std::string Describe(const ProcessFigures& f) {
    std::string text = "threads " + std::to_string(f.threads) + ", fds " + std::to_string(f.fds) +
                       ", rss " + std::to_string(f.rssKiB) + " KiB (";
    for (size_t i = 0; i < f.threadNames.size(); ++i) {
        text += (i ? ", " : "") + f.threadNames[i];
    }
    return text + ")";
}

void RobustTest::TearDown() {
    if (HasFailure() && mSim.running()) {
        const CliResult r = cli({"timeline"});
        std::vector<std::string> lines;
        std::istringstream text(r.out);
        for (std::string line; std::getline(text, line);) lines.push_back(line.substr(0, 240));
        std::cerr << "--- the last lines of the timeline" << (r.status != 0 ? ": " + r.err : "")
                  << "\n";
        for (size_t i = lines.size() > 80 ? lines.size() - 80 : 0; i < lines.size(); ++i) {
            std::cerr << lines[i] << "\n";
        }
    }
    E2eTest::TearDown();
}

bool RobustTest::ctlResult(const std::vector<std::string>& argv, Json::Value* result,
                           std::string* error) {
    RawSocket control;
    Json::Value request(Json::objectValue);
    request["id"] = 1;
    request["op"] = "cli";
    request["args"]["argv"] = Json::Value(Json::arrayValue);
    for (const std::string& arg : argv) request["args"]["argv"].append(arg);
    if (!control.connectUnix(mRunDir + "/control.sock") || !control.sendFrame(request)) {
        *error = "simulator not running";
        return false;
    }
    const Json::Value reply = control.readFrame(15s);
    if (!reply["ok"].isBool()) {
        *error = "no reply";
        return false;
    }
    if (!reply["ok"].asBool()) {
        *error = reply["error"].asString();
        return false;
    }
    *result = reply["result"];
    return true;
}

Json::Value RobustTest::ctl(const std::vector<std::string>& argv) {
    Json::Value result;
    std::string error;
    std::string command;
    for (const std::string& a : argv) command += a.substr(0, 80) + " ";
    EXPECT_TRUE(ctlResult(argv, &result, &error)) << command << ": " << error;
    return result;
}

bool RobustTest::waitCtl(const std::vector<std::string>& argv,
                         const std::function<bool(const Json::Value&)>& pred,
                         std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            Json::Value result;
            std::string error;
            return ctlResult(argv, &result, &error) && pred(result);
        },
        timeout);
}

CliResult RobustTest::batch(const std::vector<std::string>& lines) {
    const std::string path = mDir + "/batch-" + std::to_string(++mBatches) + ".txt";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines) file << line << '\n';
    }
    return cli({"batch", path});
}

Json::Value RobustTest::batchOk(const std::vector<std::string>& lines) {
    const CliResult r = batch(lines);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.json["ran"].asUInt(), lines.size()) << r.err;
    return r.json["results"];
}

bool RobustTest::answersGet(const std::string& uuid, std::chrono::milliseconds timeout) {
    Json::Value ignored;
    std::string error;
    return ctlResult({"bus", "write", "571", GetRequest(uuid)}, &ignored, &error) &&
           waitReply(uuid, timeout);
}

bool RobustTest::waitReply(const std::string& uuid, std::chrono::milliseconds timeout) {
    const std::string want = "\"device_uuid\":\"" + uuid + "\"";
    if (!waitCtl(
            {"bus", "read", "572"},
            [&](const Json::Value& r) {
                return r["payload"].asString().find(want) != std::string::npos;
            },
            timeout)) {
        return false;
    }
    // The simulator may take the bus write before the log lines sent ahead of it: wait for
    // the reply's own line, after which every earlier line is in.
    return WaitFor(
        [&] {
            for (const Json::Value& line : daemonLines(kGetResponseLine)) {
                if (line["text"].asString().find(want) != std::string::npos) return true;
            }
            return false;
        },
        timeout);
}

std::vector<Json::Value> RobustTest::daemonLines(const std::string& prefix) {
    std::vector<Json::Value> lines;
    Json::Value log;
    std::string error;
    ctlResult({"syslog"}, &log, &error);
    for (const Json::Value& entry : log) {
        if (entry["pid"].asInt() == mDaemon.pid() &&
            entry["text"].asString().compare(0, prefix.size(), prefix) == 0) {
            lines.push_back(entry);
        }
    }
    return lines;
}

bool RobustTest::waitDaemonLines(const std::string& prefix, size_t count,
                                 std::chrono::milliseconds timeout) {
    return WaitFor([&] { return daemonLines(prefix).size() >= count; }, timeout);
}

bool RobustTest::waitCastOps(const std::string& op, size_t count,
                             std::chrono::milliseconds timeout) {
    return waitCtl(
        {"cast", "log"}, [&](const Json::Value& log) { return WithOp(log, op).size() >= count; },
        timeout);
}

bool RobustTest::waitSourceOps(const std::string& op, size_t count,
                               std::chrono::milliseconds timeout) {
    return waitCtl(
        {"source", "log"}, [&](const Json::Value& log) { return WithOp(log, op).size() >= count; },
        timeout);
}

std::vector<std::string> RobustTest::daemonReplies() {
    std::vector<std::string> replies;
    for (const Json::Value& write : ctl({"bus", "log"})) {
        if (write["mid"].asInt() == 572 && write["from"].asString() == "daemon") {
            replies.push_back(write["payload"].asString());
        }
    }
    return replies;
}

}  // namespace orvix::e2e
