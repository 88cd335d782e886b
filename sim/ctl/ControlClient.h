// The control CLI's client side: sends one command to the running simulator's control
// socket and prints the answer.
#pragma once

#include <string>
#include <vector>

namespace orvix::sim {

// Runs `orvixsim ARGV...` against $ORVIXSIM_DIR/control.sock: prints the JSON document on
// stdout and returns 0, or prints the error on stderr and returns 1. `timeline` prints its
// lines as plain text (`timeline --json`: the JSON array).
int RunControlCommand(const std::vector<std::string>& argv);

}  // namespace orvix::sim
