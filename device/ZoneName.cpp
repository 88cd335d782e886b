#include "device/ZoneName.h"

// The name comes from the network through the receiver; anything else could climb out of the
// zoneinfo folder or, in a command line, do something other than name a zone, so it is
// refused.
bool IsZoneName(const std::string& zone) {
    if (zone.empty() || zone.size() > 255) return false;
    size_t start = 0;
    while (start <= zone.size()) {
        size_t end = zone.find('/', start);
        if (end == std::string::npos) end = zone.size();
        if (end == start || zone[start] == '.' || zone[start] == '-') return false;
        for (size_t i = start; i < end; ++i) {
            char c = zone[i];
            bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '+' || c == '-' || c == '.';
            if (!ok) return false;
        }
        start = end + 1;
    }
    return true;
}
