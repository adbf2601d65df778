// The one place that chooses the platform: real Win32 on Windows, herdlab's
// own implementation of the same subset on Linux. Program code includes this
// header and calls the Win32 functions by their names.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "herdlab_winapi.h"
#endif
