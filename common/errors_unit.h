// The errors that can reach the user, and the report that ends a program on
// an error that nothing handles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The code location of an error, shown in line 1 of the report as eight
// upper-case hex digits: the low 32 bits of the address of the function that
// raised it: PrintLine (also for PrintPrompt), ReadInteger (also for a failed
// read in SkipLine), TextToInteger, TextToFloat. It tells which operation
// failed; the address itself varies from run to run.
template <typename Function>
std::uint32_t CodeLocation(Function* function) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function));
}

// A console read or write failed, or a typed number did not convert.
struct EInOutError {
    std::string message;  // "Invalid numeric input", "I/O error 32", "Disk full", ...
    std::uint32_t location = 0;
};

// A command-line argument did not convert.
struct EConvertError {
    std::string message;  // "'abc' is not a valid integer value"
    std::uint32_t location = 0;
};

// The message of a failed console read or write with the platform's error
// number: "I/O error %d", or the texts of 2, 3, 4, 5, 100 and 101.
std::string IoErrorMessage(unsigned errorNumber);

// Where the report goes and how it is written.
enum class ReportForm {
    kStandardError,  // converted, on standard error, CR LF after each line, then an empty line
    kHerdLauncher,   // unconverted, on standard output, LF after line 1, CR LF after line 2
};

// The report as it is written, line ends included, before conversion:
// "Exception <kind> in module <program> at <8 hex digits>." and the message
// with a full stop added unless it has one; kStandardError adds the empty
// line.
std::string UnhandledErrorReport(ReportForm form, std::string_view kindWord,
                                 std::string_view programName, std::uint32_t location,
                                 std::string_view message);

// Writes the report for this program (its file name without directory,
// GetModuleFileNameA) and returns the exit code 1. Output is never held
// back, so nothing is pending when the report is written.
int ReportUnhandledError(ReportForm form, std::string_view kindWord, std::uint32_t location,
                         std::string_view message);

// Runs a program's main sequence; an EInOutError or EConvertError that
// escapes it ends the program with the report and exit code 1.
template <typename Body>
int RunProgram(ReportForm form, Body body) {
    try {
        body();
    } catch (const EInOutError& error) {
        return ReportUnhandledError(form, "EInOutError", error.location, error.message);
    } catch (const EConvertError& error) {
        return ReportUnhandledError(form, "EConvertError", error.location, error.message);
    }
    return 0;
}
