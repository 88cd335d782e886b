// The controller's own result codes of client SET requests.
#pragma once

#include <cstdint>
#include <limits>

enum : int32_t {
    kResultSuccess = 0,
    kResultRequestIdError = -1,
    kResultParsingFailed = -2,
    kResultInsufficientData = -3,
    kResultAlreadyUpdated = -4,
    kResultCastUnreachable = -5,
    kResultInvalidJson = -6,
};

// The request id logged for a reply that no receiver request stands behind.
constexpr int32_t kNoRequestId = std::numeric_limits<int32_t>::min();
