// The receiver's setup-information document, as the setup-information thread applies it.
#pragma once

#include <string>

// Parses body (the whole answer of the receiver's setup service) and copies its consent flags
// into the settings store where they differ, logging as the fetch does. Anything that is not
// a JSON object changes nothing.
void ApplyEurekaInfo(const std::string& body);
