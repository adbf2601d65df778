// The messages of console errors and the report that ends a program on an
// error that nothing handles.
#include "errors_unit.h"

#include "format_unit.h"
#include "myProcedure_unit.h"
#include "program_lines_unit.h"
#include "win32.h"

namespace {

struct KnownIoError {
    unsigned number;
    const char* text;
};

constexpr KnownIoError kKnownIoErrors[] = {
    {2, "File not found"},     {3, "Invalid filename"},          {4, "Too many open files"},
    {5, "File access denied"}, {100, "Read beyond end of file"}, {101, "Disk full"},
};

// Eight upper-case hex digits, zero-filled.
std::string HexLocation(std::uint32_t location) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[location & 0xF];
        location >>= 4;
    }
    return text;
}

// The program's file name without its directory (with ".exe" on Windows).
std::string ProgramFileName() {
    char path[1024] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return {};
    }
    const std::string_view full(path, length);
    const std::size_t slash = full.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? full : full.substr(slash + 1));
}

}  // namespace

std::string IoErrorMessage(unsigned errorNumber) {
    for (const KnownIoError& known : kKnownIoErrors) {
        if (known.number == errorNumber) {
            return known.text;
        }
    }
    // The number is unsigned: its digits replace the %d, which takes 32-bit signed values.
    std::string message(kIoErrorMessage);
    message.replace(message.find("%d"), 2, std::to_string(errorNumber));
    return message;
}

std::string UnhandledErrorReport(ReportForm form, std::string_view kindWord,
                                 std::string_view programName, std::uint32_t location,
                                 std::string_view message) {
    const bool herdLauncher = form == ReportForm::kHerdLauncher;
    const std::string hexLocation = HexLocation(location);
    std::string report = FormatText(kErrorReportLine, {kindWord, programName, hexLocation});
    report += herdLauncher ? "\n" : "\r\n";
    report += message;
    if (message.empty() || message.back() != '.') {
        report += '.';
    }
    report += "\r\n";
    if (!herdLauncher) {
        report += "\r\n";
    }
    return report;
}

int ReportUnhandledError(ReportForm form, std::string_view kindWord, std::uint32_t location,
                         std::string_view message) {
    const std::string report =
        UnhandledErrorReport(form, kindWord, ProgramFileName(), location, message);
    // The program ends either way; a report that cannot be written is lost.
    if (form == ReportForm::kHerdLauncher) {
        WriteRawBytes(STD_OUTPUT_HANDLE, report);
    } else {
        WriteConvertedText(STD_ERROR_HANDLE, report);
    }
    return 1;
}
