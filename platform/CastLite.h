// The cast receiver library as the daemon sees it. A device build points this header at the
// vendor's.
#pragma once

#include "platform/cast/CastCli.h"
#include "platform/cast/CastControl.h"
