// The control CLI's commands as the server runs them: each argv turns into one model call
// (and, for events, a delivery through the Router) and one JSON document for the CLI to
// print, or an error text.
#pragma once

#include <json/json.h>

#include <string>
#include <vector>

#include "sim/model/World.h"
#include "sim/server/Router.h"

namespace orvix::sim {

struct CliOutput {
    Json::Value result;
    // When set, the document exactly as the CLI prints it (the UI log, whose field order a
    // parsed JSON object would lose).
    std::string text;
    std::string error;
};

class CliCommands {
public:
    CliCommands(model::World& world, Router& router) : mWorld(world), mRouter(router) {}

    // False with out->error set when the command is unknown, malformed or cannot be done.
    bool run(const std::vector<std::string>& argv, CliOutput* out);

    // One line per command form, for the CLI's help and the error of an unknown command.
    static const char* Usage();

private:
    using Args = std::vector<std::string>;

    bool bus(const Args& a, CliOutput* out);
    bool env(const Args& a, CliOutput* out);
    bool name(const Args& a, CliOutput* out);
    bool source(const Args& a, CliOutput* out);
    bool ui(const Args& a, CliOutput* out);
    bool eureka(const Args& a, CliOutput* out);
    // CastCommands.cpp
    bool cast(const Args& a, CliOutput* out);
    bool castStatus(const Args& a, CliOutput* out);
    bool castMedia(const Args& a, CliOutput* out);
    bool sendCast(const model::CastEvent& event, CliOutput* out);

    model::World& mWorld;
    Router& mRouter;
};

// Strict number parsing for command arguments: the whole text, in range.
bool ParseInt32(const std::string& text, int32_t* out);
bool ParseDouble(const std::string& text, double* out);
// A command's words from a JSON array of texts; false when it is none or holds anything else.
bool CommandWords(const Json::Value& list, std::vector<std::string>* words);

}  // namespace orvix::sim
