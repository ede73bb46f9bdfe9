#pragma once
// The machine's serial ports and the mapping of the program's COM numbers onto them, as
// this system names its ports. Both have the same members: made from the [PORTS] entries
// of the options file, deviceFor, resolveAnew, refresh, ports, isConfigured, describe, caption,
// adapters and kMaxComNumber.
#ifdef _WIN32
#include "platform/win32/SystemPortResolver.h"
#else
#include "platform/posix/SystemPortResolver.h"
#endif
