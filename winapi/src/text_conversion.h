// Inside the layer: text between the code pages it knows (codepages.cpp), for
// command lines, block names, console output and locale texts.
#pragma once

#include <string>
#include <string_view>

#include "herdlab_winapi.h"

namespace winapi_internal {

// `text` from one of the layer's code pages to another; characters the
// target lacks become '?'.
std::string ConvertText(std::string_view text, UINT fromCodePage, UINT toCodePage);

// The Windows-1251 <-> UTF-8 conversions that CreateProcessA and
// GetCommandLineA need.
std::string Cp1251ToUtf8(std::string_view text);
std::string Utf8ToCp1251(std::string_view text);  // unmappable characters become '?'

}  // namespace winapi_internal
