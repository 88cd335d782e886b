// Names of the receiver's player states, idle reasons and stream types, for log lines.
#pragma once

#include <cstdint>

const char* PlayerStateName(int32_t state);
const char* IdleReasonName(int32_t reason);
const char* StreamTypeName(int32_t type);
