// The daemon's side of the simulator's protocol: one input is the byte stream the simulator
// sends on the receiver socket after the daemon's first request. It goes through a real
// Connection (reader and dispatcher threads) over a real Unix socket, and each event through
// the receiver link's delivery (DeliverObserverEvent, DeliverCliCallback) to an observer that
// reads every record it is given. Whatever the bytes, the connection must end by itself once
// the simulator closes its side, fail or answer the waiting request, and run no event after
// reporting the link down.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/cast/CastCli.h"
#include "platform/host/CastEvents.h"
#include "platform/host/Connection.h"
#include "tests/fuzz/support/Check.h"
#include "tests/fuzz/support/Io.h"

using orvix::host::Connection;

namespace {

// Reads every text and image it is handed, so that a record pointing at freed or missing
// memory shows up under AddressSanitizer.
class ReadingObserver : public chromecast::CastControl::Observer {
public:
    void OnControlConnected() override {}
    void OnControlDisconnected() override {}
    void OnResponse(int32_t, int32_t) override {}
    void OnCastStatus(const chromecast::CastStatus& status) override {
        read(status.name);
        read(status.buildNumber);
        read(status.timezone);
        read(status.locale);
        if (status.runningApp) read(status.runningApp->appName);
    }
    void OnMediaStatus(const chromecast::MediaStatus& status) override {
        if (!status.mediaInfo || !status.mediaInfo->metadata) return;
        const chromecast::MediaMetadata& metadata = *status.mediaInfo->metadata;
        read(metadata.title);
        FUZZ_CHECK(metadata.imageCount >= 0 && (metadata.imageCount == 0 || metadata.images),
                   "%d images", metadata.imageCount);
        for (int32_t i = 0; i < metadata.imageCount; ++i) read(metadata.images[i].url);
        if (const chromecast::MusicTrackMediaMetadata* track = metadata.musicTrack) {
            read(track->albumName);
            read(track->albumArtist);
            read(track->artist);
        }
    }
    size_t bytes() const { return mBytes; }

private:
    void read(const char* text) {
        if (text) mBytes += std::strlen(text);
    }
    size_t mBytes = 0;
};

void OnVolume(int) {}
void OnEvent() {}

struct Server {
    std::string dir;
    std::string path;
    int fd = -1;
};

Server& Listening() {
    static Server* const server = [] {
        auto* made = new Server();
        char dir[] = "/tmp/orvix-host-frames-XXXXXX";
        FUZZ_CHECK(mkdtemp(dir) != nullptr, "no scratch folder");
        made->dir = dir;
        made->path = made->dir + "/receiver.sock";
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, made->path.c_str(), sizeof(addr.sun_path) - 1);
        made->fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        FUZZ_CHECK(made->fd >= 0 &&
                       bind(made->fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                       listen(made->fd, 16) == 0,
                   "cannot listen at %s", made->path.c_str());
        std::atexit([] {
            close(Listening().fd);
            unlink(Listening().path.c_str());
            rmdir(Listening().dir.c_str());
        });
        return made;
    }();
    return *server;
}

bool ReadExactly(int fd, char* out, size_t size) {
    const auto deadline = orvix::fuzz::SecondsFromNow(5);
    size_t done = 0;
    while (done < size) {
        if (!orvix::fuzz::WaitReadable(fd, deadline)) return false;
        const ssize_t n = orvix::fuzz::Receive(fd, out + done, size - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The callback variables a "cast.callback" event may name.
    OnCastCliVolumeChange = OnVolume;
    OnCastCliMuteChange = OnVolume;
    OnCastCliReady = OnEvent;
    OnRequestResources = OnEvent;
    OnReleaseResources = OnEvent;
    OnCastCliConnect = OnEvent;
    OnCastCliDisconnect = OnEvent;
    Listening();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Server& server = Listening();
    // A connection of an earlier input may have reconnected before it was destroyed.
    for (pollfd p{server.fd, POLLIN, 0}; poll(&p, 1, 0) == 1;) {
        close(accept4(server.fd, nullptr, nullptr, SOCK_CLOEXEC));
    }
    ReadingObserver observer;
    std::mutex lock;
    std::condition_variable changed;
    bool down = false;
    bool eventAfterDown = false;

    Connection connection(
        server.path,
        [&](const std::string& name, const Json::Value& frame) {
            {
                std::lock_guard<std::mutex> guard(lock);
                eventAfterDown = eventAfterDown || down;
            }
            if (name == "cast.callback") return orvix::host::DeliverCliCallback(frame);
            return orvix::host::DeliverObserverEvent(observer, name, frame);
        },
        [&](bool up) {
            std::lock_guard<std::mutex> guard(lock);
            if (!up) down = true;
            changed.notify_all();
        });
    FUZZ_CHECK(connection.start(), "no connection to the test socket");
    int peer;
    do {
        peer = accept4(server.fd, nullptr, nullptr, SOCK_CLOEXEC);
    } while (peer < 0 && errno == EINTR);
    FUZZ_CHECK(peer >= 0, "accept failed");

    // One request waits for its reply while the bytes arrive.
    std::thread caller([&] {
        Json::Value result;
        connection.call("cast.call", Json::Value(Json::objectValue), &result,
                        std::chrono::seconds(30));
    });
    char header[4];
    FUZZ_CHECK(ReadExactly(peer, header, 4), "no request from the connection");
    const uint32_t length = (uint32_t{static_cast<unsigned char>(header[0])} << 24) |
                            (uint32_t{static_cast<unsigned char>(header[1])} << 16) |
                            (uint32_t{static_cast<unsigned char>(header[2])} << 8) |
                            uint32_t{static_cast<unsigned char>(header[3])};
    FUZZ_CHECK(length < 4096, "request of %u bytes", length);
    std::string request(length, '\0');
    FUZZ_CHECK(ReadExactly(peer, &request[0], length), "request cut short");

    orvix::fuzz::SendAll(peer, data, size);
    shutdown(peer, SHUT_WR);

    {
        std::unique_lock<std::mutex> guard(lock);
        FUZZ_CHECK(changed.wait_for(guard, std::chrono::seconds(5), [&] { return down; }),
                   "the connection did not notice the simulator closing its side");
    }
    const auto before = std::chrono::steady_clock::now();
    caller.join();
    FUZZ_CHECK(std::chrono::steady_clock::now() - before < std::chrono::seconds(5),
               "the waiting request outlived its connection");
    close(peer);
    {
        std::lock_guard<std::mutex> guard(lock);
        FUZZ_CHECK(!eventAfterDown, "an event ran after the link went down");
    }
    return 0;
}
