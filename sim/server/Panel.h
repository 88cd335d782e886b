// The front panel: a page (built into the binary from sim/panel/) that shows the simulated
// speaker live and whose controls run the CLI's commands. evhttp serves it on a loopback TCP
// port and on a Unix socket in the run folder; GET /events is a server-sent event stream of
// the state snapshot and the timeline's lines, POST /cli runs one command.
#pragma once

#include <event2/event.h>
#include <event2/http.h>
#include <json/json.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/model/World.h"
#include "sim/server/CliCommands.h"
#include "sim/server/HttpTools.h"

namespace orvix::sim {

// One file of sim/panel/, embedded by the build.
struct PanelFile {
    const char* path;  // "/panel.js"; "/" for index.html
    const char* type;
    const unsigned char* data;
    size_t size;
};
extern const PanelFile kPanelFiles[];
extern const size_t kPanelFileCount;

// The state the page shows, built from the models (members as the page expects them).
Json::Value PanelSnapshot(model::World& world);

class Panel {
public:
    using RunCli = std::function<bool(const std::vector<std::string>& argv, CliOutput* out)>;

    Panel(event_base* base, model::World& world, RunCli runCli);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Listens on 127.0.0.1:port (0: any free port) and at socketPath.
    bool open(uint16_t port, const std::string& socketPath, std::string* error);
    // {"url":"http://127.0.0.1:PORT/","socket":"..."}
    Json::Value address() const;
    // Sends what changed since the last call to every stream: at most one state and the new
    // timeline lines.
    void publish();

private:
    static void OnFile(evhttp_request* req, void* file);
    static void OnEvents(evhttp_request* req, void* self);
    static void OnCli(evhttp_request* req, void* self);
    static void OnOther(evhttp_request* req, void* self);
    static void Chunk(evhttp_request* req, const std::string& text);

    model::World& mWorld;
    RunCli mRunCli;
    HeldRequests mStreams;
    evhttp* mHttp;
    uint16_t mPort = 0;
    std::string mSocketPath;
    uint64_t mPublished = 0;  // the last seq the streams have seen
};

}  // namespace orvix::sim
