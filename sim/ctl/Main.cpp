// orvixsim: `orvixsim run [--state DIR] [--syslog] [--panel-port N]` is the simulator; any other
// form is a control command sent to the running one.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/ctl/ControlClient.h"
#include "sim/server/CliCommands.h"
#include "sim/server/Server.h"

namespace {

void PrintUsage(FILE* to) {
    std::fprintf(to,
                 "usage: orvixsim run [--state DIR] [--syslog] [--panel-port N (8090; 0: any)]\n"
                 "       orvixsim COMMAND...   (the simulator must be running)\n"
                 "       orvixsim batch FILE   (FILE's commands, one a line, in one connection;"
                 " - reads stdin)\n"
                 "The run folder is $ORVIXSIM_DIR (default /tmp/orvixsim). Commands:\n%s\n",
                 orvix::sim::CliCommands::Usage());
}

int Run(const std::vector<std::string>& args) {
    orvix::sim::ServerOptions options;
    options.runDir = orvix::sim::RunDirFromEnvironment();
    int32_t port = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--syslog") {
            options.syslog = true;
        } else if (args[i] == "--state" && i + 1 < args.size()) {
            options.stateDir = args[++i];
        } else if (args[i] == "--panel-port" && i + 1 < args.size() &&
                   orvix::sim::ParseInt32(args[i + 1], &port) && port >= 0 && port <= 65535) {
            options.panelPort = static_cast<uint16_t>(port);
            ++i;
        } else {
            std::fprintf(stderr, "orvixsim: unknown run option %s\n", args[i].c_str());
            PrintUsage(stderr);
            return 2;
        }
    }
    if (options.stateDir.empty()) options.stateDir = options.runDir + "/state";
    orvix::sim::Server server(options);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "orvixsim: %s\n", error.c_str());
        return 1;
    }
    server.serve();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintUsage(stderr);
        return 2;
    }
    if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (args[0] == "run") return Run(std::vector<std::string>(args.begin() + 1, args.end()));
    return orvix::sim::RunControlCommand(args);
}
