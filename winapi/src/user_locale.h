// Inside the layer: the C library's locale, which decides the separators
// (locale.cpp) and the code page of console output (console.cpp).
#pragma once

#include "herdlab_winapi.h"

namespace winapi_internal {

// Sets the C library's locale from the environment, once per process.
void EnsureLocale();

// The code page of the locale's character set; 65001 (UTF-8) when the
// locale names none the layer knows.
UINT LocaleCodePage();

}  // namespace winapi_internal
