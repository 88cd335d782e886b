// The persistent settings store. A key's text is its constant's name without the leading k.
#pragma once

#include <string>

extern const char* const kFeatureGoogleCast;
extern const char* const kGoogleCastTOS;
extern const char* const kGoogleCastUsageReport;
extern const char* const kGoogleCastFactoryLocale;
extern const char* const kGoogleCastFirmwareVersion;
extern const char* const kGoogleCastPlayerLatency;
extern const char* const kTimeZone;
extern const char* const kDeviceFriendlyName;

// Reads the setting into value (left as it was when the key is unset); 0 on success.
int GetEnvItemByName(const char* key, std::string& value);
// Writes the setting; 0 on success.
int SetEnvItemByName(const char* key, const std::string& value);
