// The cast library's function API and the callback variables the daemon assigns.
#pragma once

#include <cstdint>

extern "C" {

int CastCliInit(void);
int CastCliExit(void);
int CastCliSyncVolume(int32_t volume);
int CastCliSyncMute(int32_t mute);
int GrantResources(void);
int RevokeResources(void);

extern void (*OnCastCliMuteChange)(int mute);
extern void (*OnCastCliVolumeChange)(int volume);
extern void (*OnCastCliReady)(void);
extern void (*OnRequestResources)(void);
extern void (*OnReleaseResources)(void);
extern void (*OnCastCliConnect)(void);
extern void (*OnCastCliDisconnect)(void);
}
