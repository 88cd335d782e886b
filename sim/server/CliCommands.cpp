#include "sim/server/CliCommands.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace orvix::sim {

namespace {

bool Fail(CliOutput* out, const std::string& error) {
    out->error = error;
    return false;
}

bool UsageError(CliOutput* out, const char* form) {
    return Fail(out, std::string("usage: orvixsim ") + form);
}

Json::Value Object(const char* key, Json::Value value) {
    Json::Value object(Json::objectValue);
    object[key] = std::move(value);
    return object;
}

Json::Value SetupAnswerJson(const model::SetupAnswer& answer) {
    Json::Value object(Json::objectValue);
    object["up"] = answer.up;
    object["hang"] = answer.hang;
    object["status"] = answer.status;
    object["body"] = answer.body;
    return object;
}

}  // namespace

bool ParseInt32(const std::string& text, int32_t* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

bool ParseDouble(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

bool CommandWords(const Json::Value& list, std::vector<std::string>* words) {
    for (Json::ArrayIndex i = 0; list.isArray() && i < list.size(); ++i) {
        if (!list[i].isString()) return false;
        words->push_back(list[i].asString());
    }
    return list.isArray();
}

const char* CliCommands::Usage() {
    return "bus write MID TEXT | bus read MID | bus listeners | bus log | bus up|down\n"
           "env get KEY | env set KEY VALUE | env log\n"
           "name set NAME | name status N | name\n"
           "source switch | source play-control WORD | source volume TEXT | source grant yes|no"
           " | source log\n"
           "ui up|down | ui log\n"
           "cast connect|disconnect | cast status [--name S] [--build S] [--locale S]"
           " [--timezone S] [--usage-report 0|1] [--state N] [--app S|--app-without-name]\n"
           "cast media --state N --time T [--session N] [--idle-reason N] [--stream N"
           " [--duration D]] [--title S] [--artist S] [--album S] [--album-artist S]"
           " [--image URL|--image-without-url] [--metadata-type N]\n"
           "cast respond ID CODE | cast auto-respond CODE|off | cast refuse OP|all|none"
           " | cast socket up|down\n"
           "cast ready|request-resources|release-resources | cast volume N | cast mute N"
           " | cast log\n"
           "eureka body JSON | eureka status CODE | eureka up|down|hang | eureka log\n"
           "syslog | timeline [--json] | panel";
}

bool CliCommands::run(const std::vector<std::string>& argv, CliOutput* out) {
    if (argv.empty()) return Fail(out, "no command; one of:\n" + std::string(Usage()));
    const std::string& area = argv[0];
    if (area == "bus") return bus(argv, out);
    if (area == "env") return env(argv, out);
    if (area == "name") return name(argv, out);
    if (area == "source") return source(argv, out);
    if (area == "ui") return ui(argv, out);
    if (area == "cast") return cast(argv, out);
    if (area == "eureka") return eureka(argv, out);
    if (area == "syslog" && argv.size() == 1) {
        out->result = mWorld.syslog().journal().logJson();
        return true;
    }
    if (area == "panel" && argv.size() == 1) {
        out->result = mRouter.panelAddress();
        return true;
    }
    if (area == "timeline" && (argv.size() == 1 || (argv.size() == 2 && argv[1] == "--json"))) {
        out->result = mWorld.timelineJson();
        return true;
    }
    return Fail(out, "unknown command: " + area + "; one of:\n" + std::string(Usage()));
}

bool CliCommands::bus(const Args& a, CliOutput* out) {
    model::MessageBus& bus = mWorld.bus();
    const std::string verb = a.size() > 1 ? a[1] : "";
    int32_t mid = 0;
    if (verb == "write") {
        if (a.size() != 4 || !ParseInt32(a[2], &mid)) return UsageError(out, "bus write MID TEXT");
        std::vector<model::BusAlert> alerts;
        if (!bus.write("", model::Origin::App, model::Scope::Remote, mid, a[3], &alerts)) {
            return Fail(out, "bus unreachable (bus down)");
        }
        mRouter.deliverAlerts(alerts);
        out->result = bus.readJson(mid);
        out->result["alerts"] = static_cast<Json::UInt>(alerts.size());
        return true;
    }
    if (verb == "read") {
        if (a.size() != 3 || !ParseInt32(a[2], &mid)) return UsageError(out, "bus read MID");
        out->result = bus.readJson(mid);
        return true;
    }
    if (a.size() != 2) return UsageError(out, "bus write|read|listeners|log|up|down");
    if (verb == "listeners") {
        out->result = bus.listenersJson();
    } else if (verb == "log") {
        out->result = bus.journal().logJson();
    } else if (verb == "up" || verb == "down") {
        bus.setReachable(verb == "up");
        out->result = Object("reachable", bus.reachable());
    } else {
        return UsageError(out, "bus write|read|listeners|log|up|down");
    }
    return true;
}

bool CliCommands::env(const Args& a, CliOutput* out) {
    model::SettingsStore& settings = mWorld.settings();
    if (a.size() == 3 && a[1] == "get") {
        out->result = settings.getJson(a[2]);
        return true;
    }
    if (a.size() == 4 && a[1] == "set") {
        if (!settings.set(a[2], a[3], model::Origin::App)) {
            return Fail(out, "the value is set but the settings file could not be written");
        }
        out->result = settings.getJson(a[2]);
        return true;
    }
    if (a.size() == 2 && a[1] == "log") {
        out->result = settings.journal().logJson();
        return true;
    }
    return UsageError(out, "env get KEY | env set KEY VALUE | env log");
}

bool CliCommands::name(const Args& a, CliOutput* out) {
    model::DeviceName& device = mWorld.deviceName();
    int32_t status = 0;
    if (a.size() == 3 && a[1] == "set") {
        device.setName(a[2]);
    } else if (a.size() == 3 && a[1] == "status" && ParseInt32(a[2], &status)) {
        device.setStatus(status);
    } else if (a.size() != 1) {
        return UsageError(out, "name set NAME | name status N | name");
    }
    std::string text;
    out->result = Json::Value(Json::objectValue);
    out->result["status"] = device.get(&text);
    out->result["name"] = text;
    return true;
}

bool CliCommands::source(const Args& a, CliOutput* out) {
    model::SourceSwitchService& source = mWorld.source();
    std::optional<model::SourceNotification> notification;
    if (a.size() == 2 && a[1] == "switch") {
        notification = source.sourceSwitch();
    } else if (a.size() == 3 && a[1] == "play-control") {
        notification = source.playControl(a[2]);
    } else if (a.size() == 3 && a[1] == "volume") {
        notification = source.volume(a[2]);
    } else if (a.size() == 3 && a[1] == "grant" && (a[2] == "yes" || a[2] == "no")) {
        source.setGrant(a[2] == "yes");
        out->result = Object("grant", source.grant());
        return true;
    } else if (a.size() == 2 && a[1] == "log") {
        out->result = source.journal().logJson();
        return true;
    } else {
        return UsageError(out,
                          "source switch | source play-control WORD | source volume TEXT | "
                          "source grant yes|no | source log");
    }
    if (!notification || !mRouter.deliverSource(*notification)) {
        return Fail(out, "no source-switch listener connected");
    }
    out->result = Object("delivered", a[1]);
    if (a.size() == 3) out->result["text"] = a[2];
    return true;
}

bool CliCommands::ui(const Args& a, CliOutput* out) {
    if (a.size() == 2 && (a[1] == "up" || a[1] == "down")) {
        mWorld.ui().setUp(a[1] == "up");
        out->result = Object("up", mWorld.ui().up());
        return true;
    }
    if (a.size() == 2 && a[1] == "log") {
        out->result = mWorld.ui().journal().logJson();
        out->text = mWorld.ui().logText();
        return true;
    }
    return UsageError(out, "ui up|down | ui log");
}

bool CliCommands::eureka(const Args& a, CliOutput* out) {
    model::SetupService& setup = mWorld.setup();
    int32_t status = 0;
    if (a.size() == 3 && a[1] == "body") {
        setup.setBody(a[2]);
    } else if (a.size() == 3 && a[1] == "status" && ParseInt32(a[2], &status) && status >= 100 &&
               status <= 999) {
        setup.setStatus(status);
    } else if (a.size() == 2 && (a[1] == "up" || a[1] == "down")) {
        const bool up = a[1] == "up";
        std::string error;
        if (!mRouter.setSetupListening(up, &error)) return Fail(out, error);
        setup.setUp(up);
    } else if (a.size() == 2 && a[1] == "hang") {
        std::string error;
        if (!mRouter.setSetupListening(true, &error)) return Fail(out, error);
        setup.setHang();
    } else if (a.size() == 2 && a[1] == "log") {
        out->result = setup.journal().logJson();
        return true;
    } else {
        return UsageError(
            out, "eureka body JSON | eureka status CODE | eureka up|down|hang | eureka log");
    }
    out->result = SetupAnswerJson(setup.current());
    return true;
}

}  // namespace orvix::sim
