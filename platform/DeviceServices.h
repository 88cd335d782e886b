// The device's own services as the daemon sees them: message bus, settings store, device
// name, source-switch service and UI manager. A device build points this header at the
// vendor's.
#pragma once

#include "platform/device/DeviceInfo.h"
#include "platform/device/EnvItems.h"
#include "platform/device/SourceSwitch.h"
#include "platform/device/UIManager.h"
#include "platform/device/VEMOHelper.h"
