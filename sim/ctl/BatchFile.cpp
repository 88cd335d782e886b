#include "sim/ctl/BatchFile.h"

namespace orvix::sim {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One escape inside "..." starting after the backslash at text[*i]; false when it is none
// of ours.
bool Unescape(const std::string& text, size_t* i, std::string* word) {
    const char c = text[*i];
    switch (c) {
        case '"':
        case '\\':
            word->push_back(c);
            return true;
        case 'n':
            word->push_back('\n');
            return true;
        case 't':
            word->push_back('\t');
            return true;
        case 'r':
            word->push_back('\r');
            return true;
        case 'x': {
            if (*i + 2 >= text.size()) return false;
            const int high = HexDigit(text[*i + 1]);
            const int low = HexDigit(text[*i + 2]);
            if (high < 0 || low < 0) return false;
            word->push_back(static_cast<char>(high * 16 + low));
            *i += 2;
            return true;
        }
        default:
            return false;
    }
}

// The words of one line; false with *why.
bool SplitLine(const std::string& text, std::vector<std::string>* words, std::string* why) {
    std::string word;
    bool inWord = false;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t') {
            if (inWord) words->push_back(word);
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const size_t close = text.find('\'', i + 1);
            if (close == std::string::npos) {
                *why = "unterminated '";
                return false;
            }
            word.append(text, i + 1, close - i - 1);
            i = close + 1;
        } else if (c == '"') {
            ++i;
            for (;;) {
                if (i >= text.size()) {
                    *why = "unterminated \"";
                    return false;
                }
                if (text[i] == '"') break;
                if (text[i] == '\\') {
                    ++i;
                    if (i >= text.size() || !Unescape(text, &i, &word)) {
                        *why = "unknown escape in \"...\" (known: \\\" \\\\ \\n \\t \\r \\xHH)";
                        return false;
                    }
                } else {
                    word.push_back(text[i]);
                }
                ++i;
            }
            ++i;
        } else if (c == '\\') {
            if (i + 1 >= text.size()) {
                *why = "a backslash ends the line";
                return false;
            }
            word.push_back(text[i + 1]);
            i += 2;
        } else {
            word.push_back(c);
            ++i;
        }
    }
    if (inWord) words->push_back(word);
    return true;
}

}  // namespace

bool ParseBatch(const std::string& text, std::vector<BatchCommand>* out, std::string* error) {
    out->clear();
    size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        BatchCommand command;
        command.line = number;
        std::string why;
        if (!SplitLine(line, &command.argv, &why)) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        out->push_back(std::move(command));
    }
    return true;
}

}  // namespace orvix::sim
