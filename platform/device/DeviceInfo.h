// The device's identity as its users know it.
#pragma once

#include <string>

// Fills name with the device's user-visible name; 0 on success.
int getFriendlyName(std::string& name);
