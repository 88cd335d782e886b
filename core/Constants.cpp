#include "core/Constants.h"

const std::string kCastControlSocketPath = "/tmp/cast-control";
const std::string kLocalTimeLinkPath = "/data/time/localtime";
const std::string kTimezoneFilePath = "/data/time/timezone";
const std::string kUnmuteCommand = "amixer set Master unmute";
const std::string kDefaultCoverArt = "defaultArt.jpg";
const std::string kEurekaInfoUrl = "http://127.0.0.1:8008/setup/eureka_info";

const std::string kJsonId = "id";
const std::string kJsonDeviceUuid = "device_uuid";
const std::string kJsonTos = "tos";
const std::string kJsonCrashReport = "crash_report";
const std::string kJsonStatus = "status";
const std::string kJsonAction = "action";
const std::string kJsonStatusMsg = "status_msg";
const std::string kJsonUserIp = "user_ip";

const std::string kSpeakerActive = "SPEAKER_ACTIVE,24";
const std::string kSpeakerInactive = "SPEAKER_INACTIVE,24";

std::unordered_map<int32_t, std::string> kCastErrorMessages = {
    {0, "Request approved successfully!"},
    {1, "Unknown error!"},
    {2, "Error:Cast shell is not reachable"},
    {3, "Error:Update cast shell or controller"},
    {4, "Error:Response for request has not arrived in time"},
    {5, "Error:Castcontrol has not implemented this request"},
    {6, "Error:User action when no media session was available"},
    {7, "Error:Current app doesn't support required namespace"},
    {8, "Error:Multizone is not enabled in cast shell"},
    {9, "Error:The request contained poorly-formatted or invalid data"},
    {10, "Error:Response arrived but was formatted incorrectly"},
    {11, "Error: Receiver is not accepting resources"},
};

const std::unordered_map<std::string, int32_t> kPlayEvents = {
    {"PLAY", 0}, {"PAUSE", 1}, {"STOP", 2}, {"NEXT", 3}, {"PREV", 4},
};

std::function<void(bool)> releaseResourceCallback;
std::function<bool()> playMySourceCallback;
std::function<void()> setvemovolume;
std::function<void(const int&, const std::string&, VolumeMediaType)> onVolumeMuteCallback;

std::atomic<bool> gSourceSwitched{false};
std::atomic<bool> gCastMuted{false};
