// `orvixsim batch FILE`: many CLI commands in one connection. The file holds one command per
// line, written as it would be typed after `orvixsim` in a shell: words split at blanks,
// '...' taken literally, "..." with backslash escapes (\" \\ \n \t \r and \xHH for any byte,
// NUL included), a backslash outside quotes taking the next character as it is. Blank lines
// and lines whose first word starts with # are skipped.
#pragma once

#include <string>
#include <vector>

namespace orvix::sim {

struct BatchCommand {
    int line = 0;  // 1-based, for error messages
    std::vector<std::string> argv;
};

// False with *error ("line N: ...") when a line cannot be split; nothing is run then.
bool ParseBatch(const std::string& text, std::vector<BatchCommand>* out, std::string* error);

}  // namespace orvix::sim
