#include "sim/server/Panel.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <netinet/in.h>

#include "sim/model/JsonText.h"
#include "sim/server/Sockets.h"

namespace orvix::sim {

namespace {

// The page sends commands of a few words; anything much larger is no page of ours.
constexpr size_t kMaxBody = 64 * 1024;
// A stream whose client reads less than this behind the latest event is dropped.
constexpr size_t kMaxStreamBacklog = 1024 * 1024;
// What a new stream gets of the timeline's past.
constexpr size_t kHistory = 200;
// How many of the receiver's last operations the panel shows.
constexpr size_t kOps = 10;

Json::Value TextOrNull(const std::string& text) {
    return text.empty() ? Json::Value() : Json::Value(text);
}

Json::Value Setting(model::World& world, const char* key) {
    std::string value;
    return world.settings().get(key, &value) ? Json::Value(value) : Json::Value();
}

Json::Value IntOrNull(const std::string& text) {
    int32_t value = 0;
    return ParseInt32(text, &value) ? Json::Value(value) : Json::Value();
}

// The later of two records sets the value.
struct Latest {
    Json::Value value;
    uint64_t seq = 0;
    void offer(uint64_t at, Json::Value v) {
        if (at < seq) return;
        seq = at;
        value = std::move(v);
    }
};

Json::Value Speaker(model::World& world) {
    const model::SpeakerView view = world.source().speaker();
    Json::Value speaker(Json::objectValue);
    // The daemon keeps the setting in step with the cast name; before it has, the name service.
    const Json::Value setting = Setting(world, "DeviceFriendlyName");
    speaker["name"] = setting.isNull() ? TextOrNull(world.deviceName().name()) : setting;
    speaker["owner"] = view.owner;
    speaker["volume"] = view.volume ? IntOrNull(*view.volume) : Json::Value();
    speaker["muted"] = view.muted ? Json::Value(*view.muted) : Json::Value();
    speaker["timezone"] = Setting(world, "TimeZone");
    speaker["terms"] = Setting(world, "GoogleCastTOS");
    speaker["crashReports"] = Setting(world, "GoogleCastUsageReport");
    return speaker;
}

Json::Value NowPlaying(model::World& world, const std::optional<std::string>& albumArtist) {
    Json::Value now(Json::objectValue);
    for (const char* key : {"title", "artist", "album", "albumArtist", "image", "durationMs"}) {
        now[key] = Json::Value();
    }
    const std::vector<model::UiUpdate> updates = world.ui().updates();
    if (!updates.empty() && updates.back().kind == model::UiUpdate::Kind::Metadata) {
        const std::pair<const char*, const char*> texts[] = {{"trackName", "title"},
                                                             {"artist", "artist"},
                                                             {"album", "album"},
                                                             {"coverArt", "image"}};
        for (const model::UiField& f : updates.back().fields) {
            for (const auto& [field, member] : texts) {
                if (f.key == field) now[member] = TextOrNull(f.s);
            }
            if (f.key == "totalTime" && f.i32 >= 0) now["durationMs"] = f.i32;
        }
        now["albumArtist"] = model::optionalJson(albumArtist);
    }
    const std::optional<int32_t> state = world.source().speaker().playState;
    const char* const states[] = {"playing", "idle", "paused"};
    now["state"] = !state                       ? Json::Value()
                   : *state >= 0 && *state <= 2 ? Json::Value(states[*state])
                                                : Json::Value("buffering");
    const std::optional<model::BusWrite> position = world.bus().lastWrite(49);
    now["positionMs"] = position ? IntOrNull(position->payload) : Json::Value();
    now["positionAtMs"] =
        position ? Json::Value(Json::Int64(position->stamp.us / 1000)) : Json::Value();
    now["nowMs"] = Json::Int64(world.sequencer().nowUs() / 1000);
    return now;
}

// The state, then the timeline's lines after seq `after`, as server-sent events.
std::string Events(model::World& world, uint64_t after) {
    std::string text = "event: state\ndata: " + model::compactJson(PanelSnapshot(world)) + "\n\n";
    for (const model::TimelineEntry& entry : world.timelineEntries(after)) {
        Json::Value line(Json::objectValue);
        line["seq"] = Json::UInt64(entry.stamp.seq);
        line["area"] = entry.area;
        line["text"] = entry.text;
        text += "event: line\ndata: " + model::compactJson(line) + "\n\n";
    }
    return text;
}

}  // namespace

Json::Value PanelSnapshot(model::World& world) {
    Json::Value receiver(Json::objectValue);
    bool connected = false;
    Latest app, volume, muted;
    std::optional<std::string> albumArtist;
    using Kind = model::CastEvent::Kind;
    for (const model::CastEventRecord& r : world.receiver().events()) {
        const model::CastEvent& e = r.event;
        if (e.kind == Kind::Connected || e.kind == Kind::Disconnected) {
            connected = e.kind == Kind::Connected;
        } else if (e.kind == Kind::Status) {
            app.offer(r.stamp.seq, model::optionalJson(e.status.appName));
        } else if (e.kind == Kind::Volume) {
            volume.offer(r.stamp.seq, e.value);
        } else if (e.kind == Kind::Mute) {
            muted.offer(r.stamp.seq, e.value != 0);
        } else if (e.kind == Kind::Media && e.media.mediaInfo && e.media.mediaInfo->metadata) {
            albumArtist = e.media.mediaInfo->metadata->albumArtist;
        }
    }
    for (const model::CastCall& c : world.receiver().calls()) {
        const bool intArg = c.args.size() == 1 && c.args[0].isInt();
        if (c.op == model::CastOp::CastCliSyncVolume && intArg) {
            volume.offer(c.stamp.seq, c.args[0].asInt());
        }
        if (c.op == model::CastOp::CastCliSyncMute && intArg) {
            muted.offer(c.stamp.seq, c.args[0].asInt() != 0);
        }
    }
    const Json::Value log = world.receiver().journal().logJson();
    Json::Value ops(Json::arrayValue);
    for (Json::ArrayIndex i = log.size() > kOps ? log.size() - kOps : 0; i < log.size(); ++i) {
        ops.append(model::callLine(log[i]));
    }
    receiver["connected"] = connected;
    receiver["app"] = app.value;
    receiver["volume"] = volume.value;
    receiver["muted"] = muted.value;
    receiver["ops"] = ops;
    Json::Value state(Json::objectValue);
    state["speaker"] = Speaker(world);
    state["nowPlaying"] = NowPlaying(world, albumArtist);
    state["receiver"] = receiver;
    return state;
}

Panel::Panel(event_base* base, model::World& world, RunCli runCli)
    : mWorld(world), mRunCli(std::move(runCli)), mHttp(evhttp_new(base)) {
    evhttp_set_max_body_size(mHttp, kMaxBody);
    evhttp_set_max_headers_size(mHttp, kMaxBody);
    evhttp_set_timeout(mHttp, 30);
    for (size_t i = 0; i < kPanelFileCount; ++i) {
        evhttp_set_cb(mHttp, kPanelFiles[i].path, OnFile, const_cast<PanelFile*>(&kPanelFiles[i]));
    }
    evhttp_set_cb(mHttp, "/events", OnEvents, this);
    evhttp_set_cb(mHttp, "/cli", OnCli, this);
    evhttp_set_gencb(mHttp, OnOther, this);
}

Panel::~Panel() {
    evhttp_free(mHttp);
}

bool Panel::open(uint16_t port, const std::string& socketPath, std::string* error) {
    evhttp_bound_socket* bound = evhttp_bind_socket_with_handle(mHttp, "127.0.0.1", port);
    if (bound == nullptr) {
        *error = "panel: cannot listen on 127.0.0.1:" + std::to_string(port);
        return false;
    }
    sockaddr_in addr{};
    socklen_t size = sizeof addr;
    getsockname(evhttp_bound_socket_get_fd(bound), reinterpret_cast<sockaddr*>(&addr), &size);
    mPort = ntohs(addr.sin_port);
    const int fd = ListenUnix(socketPath, error);
    if (fd < 0 || evhttp_accept_socket(mHttp, fd) != 0) return false;
    mSocketPath = socketPath;
    return true;
}

Json::Value Panel::address() const {
    Json::Value out(Json::objectValue);
    out["url"] = "http://127.0.0.1:" + std::to_string(mPort) + "/";
    out["socket"] = mSocketPath;
    return out;
}

void Panel::OnFile(evhttp_request* req, void* arg) {
    const auto* file = static_cast<const PanelFile*>(arg);
    Reply(req, 200, file->type, std::string(reinterpret_cast<const char*>(file->data), file->size));
}

void Panel::OnOther(evhttp_request* req, void*) {
    Reply(req, 404, kJsonType, "{\"error\":\"not found\"}");
}

void Panel::OnEvents(evhttp_request* req, void* self) {
    auto* panel = static_cast<Panel*>(self);
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    evhttp_add_header(headers, "Content-Type", "text/event-stream");
    evhttp_add_header(headers, "Cache-Control", "no-store");
    evhttp_send_reply_start(req, 200, "OK");
    // A stream is quiet for as long as nothing happens: the connection's time-out, meant for
    // a request that never arrives, would cut it. A client gone or too slow still ends it.
    bufferevent_set_timeouts(evhttp_connection_get_bufferevent(evhttp_request_get_connection(req)),
                             nullptr, nullptr);
    panel->mStreams.hold(req);
    // Every record takes the next seq, so the last kHistory lines are those after last -
    // kHistory. A client too slow for this much is cut at the next change, outside evhttp's
    // callback.
    const uint64_t last = panel->mWorld.sequencer().last();
    Chunk(req, Events(panel->mWorld, last > kHistory ? last - kHistory : 0));
}

void Panel::OnCli(evhttp_request* req, void* self) {
    auto* panel = static_cast<Panel*>(self);
    auto fail = [req](const std::string& error) {
        Json::Value body(Json::objectValue);
        body["error"] = error;
        Reply(req, 400, kJsonType, model::compactJson(body));
    };
    if (evhttp_request_get_command(req) != EVHTTP_REQ_POST) return fail("POST a command");
    evbuffer* in = evhttp_request_get_input_buffer(req);
    std::string text(evbuffer_get_length(in), '\0');
    evbuffer_remove(in, &text[0], text.size());
    Json::Value words;
    std::vector<std::string> argv;
    if (!model::parseJson(text, &words) || !CommandWords(words, &argv)) {
        return fail("the body is a JSON array of the command's words");
    }
    CliOutput out;
    if (!panel->mRunCli(argv, &out)) return fail(out.error);
    Reply(req, 200, kJsonType, out.text.empty() ? model::compactJson(out.result) : out.text);
}

void Panel::Chunk(evhttp_request* req, const std::string& text) {
    evbuffer* buffer = evbuffer_new();
    evbuffer_add(buffer, text.data(), text.size());
    evhttp_send_reply_chunk(req, buffer);
    evbuffer_free(buffer);
}

void Panel::publish() {
    const uint64_t last = mWorld.sequencer().last();
    if (last == mPublished) return;
    const uint64_t seen = mPublished;
    mPublished = last;
    if (mStreams.size() == 0) return;
    // Only what is new: a long run's timeline is not rebuilt at every change.
    const std::string text = Events(mWorld, seen);
    for (evhttp_request* req : mStreams.all()) {
        Chunk(req, text);
        bufferevent* bev = evhttp_connection_get_bufferevent(evhttp_request_get_connection(req));
        if (evbuffer_get_length(bufferevent_get_output(bev)) > kMaxStreamBacklog) {
            mStreams.drop(req);
        }
    }
}

}  // namespace orvix::sim
