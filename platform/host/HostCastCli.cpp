// The cast library's function API over the process's current receiver link (the control's,
// or one made on first use). Each returns the receiver's integer result, -1 on failure.
#include "platform/cast/CastCli.h"
#include "platform/host/ReceiverLink.h"

using orvix::host::ArgList;
using orvix::host::ReceiverLink;

// Called on the receiver link's dispatcher thread; null until the daemon sets them.
void (*OnCastCliMuteChange)(int mute) = nullptr;
void (*OnCastCliVolumeChange)(int volume) = nullptr;
void (*OnCastCliReady)(void) = nullptr;
void (*OnRequestResources)(void) = nullptr;
void (*OnReleaseResources)(void) = nullptr;
void (*OnCastCliConnect)(void) = nullptr;
void (*OnCastCliDisconnect)(void) = nullptr;

int CastCliInit(void) {
    return ReceiverLink::Current()->call("CastCliInit", ArgList());
}

int CastCliExit(void) {
    return ReceiverLink::Current()->call("CastCliExit", ArgList());
}

int CastCliSyncVolume(int32_t volume) {
    return ReceiverLink::Current()->call("CastCliSyncVolume", ArgList(volume));
}

int CastCliSyncMute(int32_t mute) {
    return ReceiverLink::Current()->call("CastCliSyncMute", ArgList(mute));
}

int GrantResources(void) {
    return ReceiverLink::Current()->call("GrantResources", ArgList());
}

int RevokeResources(void) {
    return ReceiverLink::Current()->call("RevokeResources", ArgList());
}
