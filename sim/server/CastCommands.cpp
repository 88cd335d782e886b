// The `cast` commands: observer events and callback-variable calls for the daemon's cast
// control, and the receiver's policies.
#include <map>
#include <set>

#include "sim/server/CliCommands.h"

namespace orvix::sim {

namespace {

using model::CastEvent;

bool Fail(CliOutput* out, const std::string& error) {
    out->error = error;
    return false;
}

// "--key value" pairs, and flags (known options without a value, entered with the value
// ""); false (error set) for an unknown key, a repeated one or a missing value.
bool ReadOptions(const std::vector<std::string>& a, size_t from, const std::set<std::string>& known,
                 std::map<std::string, std::string>* opts, CliOutput* out,
                 const std::set<std::string>& flags = {}) {
    size_t i = from;
    while (i < a.size()) {
        const bool flag = flags.count(a[i]) != 0;
        if (!flag && known.count(a[i]) == 0) return Fail(out, "unknown option " + a[i]);
        if (!flag && i + 1 >= a.size()) return Fail(out, a[i] + " needs a value");
        if (!opts->emplace(a[i], flag ? "" : a[i + 1]).second) {
            return Fail(out, a[i] + " given twice");
        }
        i += flag ? 1 : 2;
    }
    return true;
}

std::optional<std::string> Text(const std::map<std::string, std::string>& opts, const char* key) {
    auto it = opts.find(key);
    if (it == opts.end()) return std::nullopt;
    return it->second;
}

// Leaves *value alone when the option is absent; false when it is there but no int32.
bool Int(const std::map<std::string, std::string>& opts, const char* key, int32_t* value,
         CliOutput* out) {
    auto it = opts.find(key);
    if (it == opts.end()) return true;
    if (ParseInt32(it->second, value)) return true;
    return Fail(out, std::string(key) + " needs an integer, not " + it->second);
}

bool Real(const std::map<std::string, std::string>& opts, const char* key, double* value,
          CliOutput* out) {
    auto it = opts.find(key);
    if (it == opts.end()) return true;
    if (ParseDouble(it->second, value)) return true;
    return Fail(out, std::string(key) + " needs a number, not " + it->second);
}

}  // namespace

bool CliCommands::cast(const Args& a, CliOutput* out) {
    model::Receiver& receiver = mWorld.receiver();
    const std::string verb = a.size() > 1 ? a[1] : "";
    int32_t first = 0;
    int32_t second = 0;
    if (verb == "status") return castStatus(a, out);
    if (verb == "media") return castMedia(a, out);
    if (a.size() == 2) {
        if (verb == "connect") return sendCast(CastEvent::of(CastEvent::Kind::Connected), out);
        if (verb == "disconnect") {
            return sendCast(CastEvent::of(CastEvent::Kind::Disconnected), out);
        }
        if (verb == "ready") return sendCast(CastEvent::of(CastEvent::Kind::Ready), out);
        if (verb == "request-resources") {
            return sendCast(CastEvent::of(CastEvent::Kind::RequestResources), out);
        }
        if (verb == "release-resources") {
            return sendCast(CastEvent::of(CastEvent::Kind::ReleaseResources), out);
        }
        if (verb == "log") {
            out->result = receiver.journal().logJson();
            return true;
        }
    } else if (a.size() == 3) {
        if (verb == "volume" && ParseInt32(a[2], &first)) {
            return sendCast(CastEvent::volume(first), out);
        }
        if (verb == "mute" && ParseInt32(a[2], &first)) {
            return sendCast(CastEvent::mute(first), out);
        }
        if (verb == "auto-respond" && (a[2] == "off" || ParseInt32(a[2], &first))) {
            receiver.setAutoRespond(a[2] == "off" ? std::nullopt : std::optional<int32_t>(first));
            const std::optional<int32_t> code = receiver.autoRespond();
            out->result = Json::Value(Json::objectValue);
            out->result["autoRespond"] = code ? Json::Value(*code) : Json::Value();
            return true;
        }
        if (verb == "socket" && (a[2] == "up" || a[2] == "down")) {
            std::string error;
            if (!mRouter.setReceiverListening(a[2] == "up", &error)) return Fail(out, error);
            out->result = Json::Value(Json::objectValue);
            out->result["socket"] = a[2];
            return true;
        }
        if (verb == "refuse") {
            if (!receiver.refuse(a[2])) return Fail(out, "unknown cast operation: " + a[2]);
            Json::Value refused(Json::arrayValue);
            for (int op = 0; op <= static_cast<int>(model::CastOp::RevokeResources); ++op) {
                const auto castOp = static_cast<model::CastOp>(op);
                if (receiver.refused(castOp)) refused.append(model::castOpName(castOp));
            }
            out->result = Json::Value(Json::objectValue);
            out->result["refused"] = refused;
            return true;
        }
    } else if (a.size() == 4 && verb == "respond" && ParseInt32(a[2], &first) &&
               ParseInt32(a[3], &second)) {
        return sendCast(CastEvent::response(first, second), out);
    }
    return Fail(out,
                "usage: orvixsim cast connect|disconnect|status|media|respond ID CODE|"
                "auto-respond CODE|off|refuse OP|all|none|socket up|down|ready|"
                "request-resources|"
                "release-resources|volume N|mute N|log");
}

bool CliCommands::castStatus(const Args& a, CliOutput* out) {
    std::map<std::string, std::string> opts;
    if (!ReadOptions(
            a, 2,
            {"--name", "--build", "--locale", "--timezone", "--usage-report", "--state", "--app"},
            &opts, out, {"--app-without-name"})) {
        return false;
    }
    if (opts.count("--app") != 0 && opts.count("--app-without-name") != 0) {
        return Fail(out, "--app and --app-without-name exclude each other");
    }
    model::CastStatusData status;
    status.name = Text(opts, "--name");
    status.buildNumber = Text(opts, "--build");
    status.locale = Text(opts, "--locale");
    status.timezone = Text(opts, "--timezone");
    status.appName = Text(opts, "--app");
    status.appWithoutName = opts.count("--app-without-name") != 0;
    int32_t usage = 0;
    if (!Int(opts, "--state", &status.castState, out) ||
        !Int(opts, "--usage-report", &usage, out)) {
        return false;
    }
    if (usage != 0 && usage != 1) return Fail(out, "--usage-report is 0 or 1");
    status.usageReport = usage == 1;
    return sendCast(CastEvent::statusEvent(status), out);
}

bool CliCommands::castMedia(const Args& a, CliOutput* out) {
    std::map<std::string, std::string> opts;
    if (!ReadOptions(
            a, 2,
            {"--state", "--time", "--session", "--idle-reason", "--stream", "--duration", "--title",
             "--artist", "--album", "--album-artist", "--image", "--metadata-type"},
            &opts, out, {"--image-without-url"})) {
        return false;
    }
    if (opts.count("--image") != 0 && opts.count("--image-without-url") != 0) {
        return Fail(out, "--image and --image-without-url exclude each other");
    }
    if (opts.count("--state") == 0 || opts.count("--time") == 0) {
        return Fail(out, "cast media needs --state N and --time T");
    }
    model::MediaStatusData media;
    if (!Int(opts, "--state", &media.playerState, out) ||
        !Real(opts, "--time", &media.currentTime, out) ||
        !Int(opts, "--session", &media.sessionId, out) ||
        !Int(opts, "--idle-reason", &media.idleReason, out)) {
        return false;
    }
    model::MediaMetadataData metadata;
    metadata.title = Text(opts, "--title");
    metadata.artist = Text(opts, "--artist");
    metadata.albumName = Text(opts, "--album");
    metadata.albumArtist = Text(opts, "--album-artist");
    metadata.imageUrl = Text(opts, "--image");
    metadata.imageWithoutUrl = opts.count("--image-without-url") != 0;
    if (!Int(opts, "--metadata-type", &metadata.metadataType, out)) return false;
    const bool hasMetadata = metadata.title || metadata.artist || metadata.albumName ||
                             metadata.albumArtist || metadata.imageUrl || metadata.imageWithoutUrl;
    if (opts.count("--stream") != 0) {
        model::MediaInfoData info;
        if (!Int(opts, "--stream", &info.streamType, out) ||
            !Real(opts, "--duration", &info.duration, out)) {
            return false;
        }
        if (hasMetadata) info.metadata = metadata;
        media.mediaInfo = info;
    } else if (hasMetadata || opts.count("--duration") != 0 || opts.count("--metadata-type") != 0) {
        // Duration and metadata live in the media info, which only --stream makes.
        return Fail(out, "--duration and the metadata options need --stream N");
    }
    return sendCast(CastEvent::mediaEvent(media), out);
}

bool CliCommands::sendCast(const CastEvent& event, CliOutput* out) {
    if (!mRouter.hasCastControl()) return Fail(out, "no cast control connected");
    mRouter.deliverCast(mWorld.receiver().recordEvent(event));
    out->result = model::toJson(event);
    return true;
}

}  // namespace orvix::sim
