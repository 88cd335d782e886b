// A client SET request waiting for the receiver's answer.
#pragma once

#include <cstdint>
#include <string>

struct ClientSetRequest {
    std::string id;
    std::string deviceUuid;
    std::string userIp;
    std::string action;
    int32_t result = 0;
};
