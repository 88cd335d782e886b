#include "sim/model/SyslogCollector.h"

#include <cctype>

namespace orvix::model {

namespace {

const char* const kPriorityNames[] = {"emerg",   "alert",  "crit", "err",
                                      "warning", "notice", "info", "debug"};

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// "Mmm dd hh:mm:ss " as glibc writes it (the day padded with a blank).
bool isTimestamp(const std::string& s, size_t pos) {
    if (s.size() < pos + 16) return false;
    const char* p = s.data() + pos;
    for (int i = 0; i < 3; ++i) {
        if (!std::isalpha(static_cast<unsigned char>(p[i]))) return false;
    }
    return p[3] == ' ' && (p[4] == ' ' || isDigit(p[4])) && isDigit(p[5]) && p[6] == ' ' &&
           isDigit(p[7]) && isDigit(p[8]) && p[9] == ':' && isDigit(p[10]) && isDigit(p[11]) &&
           p[12] == ':' && isDigit(p[13]) && isDigit(p[14]) && p[15] == ' ';
}

}  // namespace

SyslogCollector::SyslogCollector(Sequencer& sequencer)
    : mJournal(sequencer, "syslog", [](const Json::Value& e) {
          return std::string(kPriorityNames[e["priority"].asInt() & 7]) + " " +
                 e["ident"].asString() + ": " + e["text"].asString();
      }) {}

void SyslogCollector::reset() {
    mJournal.clear();
}

void SyslogCollector::record(int priority, int facility, const std::string& ident, int pid,
                             const std::string& text) {
    Json::Value entry(Json::objectValue);
    entry["priority"] = priority;
    entry["facility"] = facility;
    entry["ident"] = ident;
    entry["pid"] = pid;
    entry["text"] = text;
    mJournal.log(entry);
}

bool SyslogCollector::parseDatagram(const std::string& datagram, SyslogEntry* entry) {
    std::string s = datagram;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\0')) s.pop_back();
    if (s.size() < 3 || s[0] != '<') return false;
    size_t pos = 1;
    int pri = 0;
    while (pos < s.size() && isDigit(s[pos]) && pos < 5) pri = pri * 10 + (s[pos++] - '0');
    if (pos == 1 || pos >= s.size() || s[pos] != '>') return false;
    ++pos;
    if (isTimestamp(s, pos)) pos += 16;

    SyslogEntry out;
    out.priority = pri & 7;
    out.facility = pri >> 3;
    // The tag runs up to ": "; without one (or with blanks in it) there is no tag at all.
    const size_t colon = s.find(": ", pos);
    std::string tag = colon == std::string::npos ? std::string() : s.substr(pos, colon - pos);
    if (colon == std::string::npos || tag.empty() || tag.find(' ') != std::string::npos) {
        out.text = s.substr(pos);
    } else {
        out.text = s.substr(colon + 2);
        const size_t open = tag.find('[');
        if (open != std::string::npos && tag.back() == ']') {
            const std::string digits = tag.substr(open + 1, tag.size() - open - 2);
            bool allDigits = !digits.empty() && digits.size() < 10;
            for (char c : digits) allDigits = allDigits && isDigit(c);
            if (allDigits) {
                out.pid = std::stoi(digits);
                tag.resize(open);
            }
        }
        out.ident = tag;
    }
    *entry = std::move(out);
    return true;
}

bool SyslogCollector::recordDatagram(const std::string& datagram) {
    SyslogEntry entry;
    if (!parseDatagram(datagram, &entry)) return false;
    record(entry.priority, entry.facility, entry.ident, entry.pid, entry.text);
    return true;
}

}  // namespace orvix::model
