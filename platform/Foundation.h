// The platform foundation as the daemon sees it: reference counting, threads, the message
// looper and the binder runtime. A device build points this header at the vendor's.
#pragma once

#include "platform/android/AHandler.h"
#include "platform/android/AHandlerReflector.h"
#include "platform/android/ALooper.h"
#include "platform/android/AMessage.h"
#include "platform/android/AString.h"
#include "platform/android/Binder.h"
#include "platform/android/Clock.h"
#include "platform/android/IPCThreadState.h"
#include "platform/android/ProcessState.h"
#include "platform/android/RefBase.h"
#include "platform/android/Thread.h"
#include "platform/android/Vector.h"
