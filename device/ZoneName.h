// Which texts the daemon accepts as a zone name from the receiver.
#pragma once

#include <string>

// A zone name as the zoneinfo database forms them ("Europe/Berlin", "Etc/GMT+5",
// "America/Argentina/Buenos_Aires"): slash-separated names of letters, digits and "_+-.",
// none empty, none starting with a dot or a dash, 255 bytes at most.
bool IsZoneName(const std::string& zone);
