// The calls through which this system's file store reaches the disk: the real ones by default;
// tests put a subclass in their place to make one of them fail, or to stop the process at a
// named phase of a rewrite.
#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
#include "platform/win32/win32_calls.h"
namespace parlotrim {
using SystemCalls = Win32Calls;
}
#else
#include "platform/posix_calls.h"
namespace parlotrim {
using SystemCalls = PosixCalls;
}
#endif
