// Console output: the line and prompt printers and the monitor's priority
// menu. Every line and prompt is formatted, converted from Windows-1251 once,
// right before it is written, and goes out in ONE write call with its line
// end, so lines of different processes and of different threads never mix,
// whether standard output is a console, a pipe or a file.
//
// Windows: UTF-16 through WriteConsoleW on a console (right whatever the code
// pages); redirected, the console's output code page, else UTF-8.
// Linux: the locale's codeset (UTF-8 in practice).
#pragma once

#include <initializer_list>
#include <string_view>

#include "format_unit.h"
#include "win32.h"

// Formats a line and writes it with its line end (CR LF). Raises EInOutError
// when the write fails. Safe to call from several threads at once.
void PrintLine(std::string_view format, std::initializer_list<FormatValue> values = {});

// The same without the line end, for a prompt the user answers on its line.
void PrintPrompt(std::string_view format, std::initializer_list<FormatValue> values = {});

// Converts Windows-1251 text for the console and writes it in one call to the
// given standard handle (STD_OUTPUT_HANDLE or STD_ERROR_HANDLE). Returns 0 or
// the platform's error number.
unsigned WriteConvertedText(DWORD standardHandle, std::string_view cp1251Text);

// Writes bytes unchanged in one call; 0 or the platform's error number.
unsigned WriteRawBytes(DWORD standardHandle, std::string_view bytes);

// The priority menu of the monitor: seven lines, no time stamps.
void PriorityMenu();
