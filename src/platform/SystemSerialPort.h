#pragma once
// The serial port of this system, as the programs open it.
#ifdef _WIN32
#include "platform/win32/Win32SerialPort.h"
namespace tarnset {
using SystemSerialPort = Win32SerialPort;
}
#else
#include "platform/posix/PosixSerialPort.h"
namespace tarnset {
using SystemSerialPort = PosixSerialPort;
}
#endif
