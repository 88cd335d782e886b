// The simulator's side of its protocol: a real orvixsim server (one poll loop on a thread of
// its own, sockets in a scratch folder) gets one byte stream per input on the device, the
// receiver or the control socket, chosen by the input's first byte ('c' control, 'r'
// receiver, anything else device). Beside it, a device connection that listens to the bus and
// the source-switch service and a receiver connection that made a cast control take whatever
// events the stream causes. Whatever the bytes, the server must answer or drop the stream,
// close every connection whose client closed its side, and keep serving.
#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "sim/server/Framing.h"
#include "sim/server/Server.h"
#include "tests/fuzz/support/Check.h"
#include "tests/fuzz/support/Io.h"

namespace sim = orvix::sim;

namespace {

// The server is made afresh now and then, so that its logs and whatever state the inputs
// put it in (bus down, cast socket down...) do not pile up over a long run.
constexpr int kInputsPerServer = 2000;
constexpr int kDeadlineSeconds = 5;

class Running {
public:
    explicit Running(const std::string& dir) {
        sim::ServerOptions options;
        options.runDir = dir + "/run";
        options.stateDir = dir + "/state";
        options.castSocket = dir + "/run/cast-control";
        options.httpPort = 0;
        mServer = std::make_unique<sim::Server>(options);
        std::string error;
        FUZZ_CHECK(mServer->start(&error), "orvixsim did not start: %s", error.c_str());
        mThread = std::thread([this] {
            mServer->serve();
            mEnded = true;
        });
    }
    ~Running() {
        // The server's own stop: its SIGTERM handler wakes the poll loop.
        raise(SIGTERM);
        mThread.join();
    }
    bool serving() const { return !mEnded; }

private:
    std::unique_ptr<sim::Server> mServer;
    std::thread mThread;
    std::atomic<bool> mEnded{false};
};

struct Harness {
    std::string dir;
    std::unique_ptr<Running> server;
    int inputs = 0;
};

Harness& Get() {
    static Harness* const harness = [] {
        auto* made = new Harness();
        char dir[] = "/tmp/orvix-sim-frames-XXXXXX";
        FUZZ_CHECK(mkdtemp(dir) != nullptr, "no scratch folder");
        made->dir = dir;
        std::atexit([] {
            Get().server.reset();
            std::string command = "rm -rf '" + Get().dir + "'";
            [[maybe_unused]] int status = std::system(command.c_str());
        });
        return made;
    }();
    return *harness;
}

int Connect(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) return fd;
        const int error = errno;
        close(fd);
        if (error != EINTR) return -1;
    }
}

// Reads until the server closes the connection, which it must do once the client has closed
// its side and the answers are out. Returns what arrived.
std::string ReadToEnd(int fd, const char* who) {
    std::string in;
    char chunk[64 * 1024];
    const auto deadline = orvix::fuzz::SecondsFromNow(kDeadlineSeconds);
    for (;;) {
        FUZZ_CHECK(orvix::fuzz::WaitReadable(fd, deadline),
                   "the server kept the %s connection open after the client closed its side", who);
        const ssize_t n = orvix::fuzz::Receive(fd, chunk, sizeof(chunk));
        if (n <= 0) return in;
        in.append(chunk, static_cast<size_t>(n));
    }
}

// Sends one request on a helper connection and waits for its reply.
void Request(int fd, int64_t id, const char* op, const Json::Value& args) {
    Json::Value frame(Json::objectValue);
    frame["id"] = Json::Int64(id);
    frame["op"] = op;
    frame["args"] = args;
    const std::string bytes = sim::FrameBytes(frame);
    orvix::fuzz::SendAll(fd, bytes.data(), bytes.size());
    sim::FrameDecoder decoder;
    std::string body;
    char chunk[4096];
    const auto deadline = orvix::fuzz::SecondsFromNow(kDeadlineSeconds);
    while (decoder.next(&body) != sim::FrameDecoder::Status::Frame) {
        FUZZ_CHECK(orvix::fuzz::WaitReadable(fd, deadline), "no reply to %s", op);
        const ssize_t n = orvix::fuzz::Receive(fd, chunk, sizeof(chunk));
        FUZZ_CHECK(n > 0, "connection closed instead of answering %s", op);
        decoder.append(chunk, static_cast<size_t>(n));
    }
    Json::Value reply;
    FUZZ_CHECK(
        sim::ParseObject(body, &reply) && reply["id"] == Json::Int64(id) && reply["ok"].isBool(),
        "reply to %s: %s", op, body.c_str());
}

// Every frame the server sent is a frame of one JSON object.
void CheckFrames(const std::string& bytes, const char* who) {
    sim::FrameDecoder decoder(sim::kMaxControlFrame);
    decoder.append(bytes.data(), bytes.size());
    std::string body;
    sim::FrameDecoder::Status status;
    while ((status = decoder.next(&body)) == sim::FrameDecoder::Status::Frame) {
        Json::Value frame;
        FUZZ_CHECK(sim::ParseObject(body, &frame), "%s got %s", who, body.c_str());
    }
    FUZZ_CHECK(status == sim::FrameDecoder::Status::More, "%s got a frame over the limit", who);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness& harness = Get();
    if (!harness.server || ++harness.inputs > kInputsPerServer) {
        harness.server.reset();
        harness.server = std::make_unique<Running>(harness.dir);
        harness.inputs = 1;
    }
    const std::string run = harness.dir + "/run/";
    std::string stream(reinterpret_cast<const char*>(data), size);
    std::string target = run + "device.sock";
    if (!stream.empty() && (stream[0] == 'c' || stream[0] == 'r')) {
        target = stream[0] == 'c' ? run + "control.sock" : run + "cast-control";
    }
    if (!stream.empty()) stream.erase(0, 1);

    // The listeners for the events the stream may cause. An earlier input may have closed the
    // cast socket ("cast socket down"); then there is no receiver connection this time.
    const int device = Connect(run + "device.sock");
    FUZZ_CHECK(device >= 0, "the device socket is gone");
    Json::Value mids(Json::objectValue);
    for (int mid : {49, 50, 64, 90, 571, 572, 573}) mids["mids"].append(mid);
    Request(device, 1, "bus.register", mids);
    Request(device, 2, "source.listen", Json::Value(Json::objectValue));
    const int receiver = Connect(run + "cast-control");
    if (receiver >= 0) {
        Json::Value create(Json::objectValue);
        create["path"] = run + "cast-control";
        Request(receiver, 1, "cast.create", create);
    }

    const int fd = Connect(target);
    if (fd >= 0) {
        orvix::fuzz::SendAll(fd, stream.data(), stream.size());
        shutdown(fd, SHUT_WR);
        CheckFrames(ReadToEnd(fd, "fuzzed"), "the fuzzed connection");
        close(fd);
    }
    shutdown(device, SHUT_WR);
    CheckFrames(ReadToEnd(device, "listening device"), "the listening device");
    close(device);
    if (receiver >= 0) {
        shutdown(receiver, SHUT_WR);
        CheckFrames(ReadToEnd(receiver, "receiver"), "the receiver");
        close(receiver);
    }
    FUZZ_CHECK(harness.server->serving(), "the server stopped serving");
    return 0;
}
