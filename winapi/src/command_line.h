// Inside the layer: command lines both ways (command_line.cpp). A child's
// Windows-1251 command line is split into argv by the programs' own rules,
// and the process's own argv is joined back into a command line that those
// rules split into the same words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winapi_internal {

// The programs' own splitting: a word runs up to a character of code 1..32
// outside double quotes; quotes toggle quoting and are dropped; separators and
// an empty pair of quotes between words are skipped.
std::vector<std::string> SplitCommandLine(std::string_view text);

// The file to run for `name` (UTF-8), or empty when there is none: a name
// with a '/' as it is, otherwise the first executable file of that name in
// the caller's own folder, the current folder, then the folders of PATH, in
// Windows' order.
std::string FindProgram(const std::string& name);

}  // namespace winapi_internal
