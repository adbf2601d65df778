// herdcheck: checks feeder children (tusker2, tusker6 as students write
// them) in one command.
//
//   herdcheck [--set 2|6] [--json FILE] [--junit FILE] CHILD...
//
// For each CHILD program the checker plays the feeder's side of the FeedRing
// with the names, command line and ring rules of the data set (6: the named
// elephants, the default; 2: the numbered processes), twice: once with a
// steady feeder, once with a slow one, each time contained (see
// child_process_unit.h). It prints the checks of each child, then a table of
// all children, and writes the same as JSON or JUnit XML on request. Exit
// code: 0 when every child passed every check, 1 when some did not, 2 for a
// wrong command line or a result file that cannot be opened, 3 when a result
// file could not be written.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "child_process_unit.h"
#include "command_line_unit.h"
#include "cp1251_unit.h"
#include "errors_unit.h"
#include "format_unit.h"
#include "lanes_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "report_unit.h"
#include "win32.h"

namespace {

// ---- Texts ------------------------------------------------------------------

constexpr std::string_view kUsage[] = {
    "Использование: herdcheck [--set 2|6] [--json ФАЙЛ] [--junit ФАЙЛ] ПРОГРАММА..."_cp1251,
    "  Проверяет дочерние программы кормушки, играя за кормушку."_cp1251,
    "  --set 6      слоны Tandy, Aun, ... (tusker6 для herdboss6), по умолчанию"_cp1251,
    "  --set 2      процесс 1, процесс 2, ... (tusker2 для herdboss2)"_cp1251,
    "  --json ФАЙЛ  записать результаты в ФАЙЛ (JSON, UTF-8)"_cp1251,
    "  --junit ФАЙЛ записать результаты в ФАЙЛ (JUnit XML для систем CI)"_cp1251,
    "  Код выхода: 0 - все проверки пройдены, 1 - нет, 2 - ошибка в командной строке."_cp1251,
};
constexpr std::string_view kFileOpenFailure =
    "herdcheck: не удалось открыть файл «%s» для записи (ошибка %d)"_cp1251;
constexpr std::string_view kFileWriteFailure = "herdcheck: не удалось записать файл «%s»"_cp1251;

constexpr int kExitUsage = 2;
constexpr int kExitFileWrite = 3;

// ---- Command line -----------------------------------------------------------

struct Settings {
    int dataSet = 6;
    std::string jsonPath;
    std::string junitPath;
    std::vector<std::string> programs;
    bool help = false;
    std::string error;  // Windows-1251; empty when the command line is fine
};

Settings ReadSettings(const std::vector<std::string>& words) {
    Settings settings;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < words.size() && settings.error.empty(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.empty() || word[0] != '-') {
            settings.programs.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help" || word == "-h") {
            settings.help = true;
        } else if (word == "--set") {
            const std::string value = i + 1 < words.size() ? words[++i] : "";
            if (value != "2" && value != "6") {
                settings.error = "herdcheck: после --set нужно 2 или 6"_cp1251;
            }
            settings.dataSet = value == "2" ? 2 : 6;
        } else if (word == "--json" || word == "--junit") {
            if (i + 1 >= words.size()) {
                settings.error = FormatText("herdcheck: после %s нужно имя файла"_cp1251,
                                            {std::string_view(word)});
            } else {
                (word == "--json" ? settings.jsonPath : settings.junitPath) = words[++i];
            }
        } else {
            settings.error =
                FormatText("herdcheck: неизвестный параметр «%s»"_cp1251, {std::string_view(word)});
        }
    }
    if (settings.error.empty() && !settings.help && settings.programs.empty()) {
        settings.error = "herdcheck: не указана ни одна программа"_cp1251;
    }
    return settings;
}

void WriteErrorLine(std::string_view text) {
    WriteConvertedText(STD_ERROR_HANDLE, std::string(text) + "\r\n");
}

// A result file, opened before the check so that a wrong path is known
// before a long check.
struct ResultFile {
    std::string path;  // Windows-1251, as typed; empty when not asked for
    std::FILE* file = nullptr;
};

bool OpenResultFile(ResultFile& result) {
    if (result.path.empty()) {
        return true;
    }
    result.file = std::fopen(NativePath(result.path).c_str(), "wb");
    if (result.file == nullptr) {
        WriteErrorLine(FormatText(
            kFileOpenFailure, {std::string_view(result.path), static_cast<std::int32_t>(errno)}));
    }
    return result.file != nullptr;
}

// Writes and closes the file; false (with a message) when that failed.
bool WriteResultFile(ResultFile& result, const std::string& text) {
    if (result.file == nullptr) {
        return true;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), result.file) == text.size();
    if (std::fclose(result.file) != 0 || !written) {
        WriteErrorLine(FormatText(kFileWriteFailure, {std::string_view(result.path)}));
        return false;
    }
    return true;
}

int ShowUsage(const Settings& settings) {
    if (!settings.error.empty()) {
        WriteErrorLine(settings.error);
    }
    for (std::string_view line : kUsage) {
        if (settings.help) {
            PrintLine("%s", {line});
        } else {
            WriteErrorLine(line);
        }
    }
    return settings.help ? 0 : kExitUsage;
}

int RunCheck() {
    const Settings settings = ReadSettings(CommandLineWords(GetCommandLineA()));
    if (settings.help || !settings.error.empty()) {
        return ShowUsage(settings);
    }
    ResultFile json{settings.jsonPath};
    ResultFile junit{settings.junitPath};
    if (!OpenResultFile(json) || !OpenResultFile(junit)) {
        if (json.file != nullptr) {
            std::fclose(json.file);
        }
        return kExitUsage;
    }
    PrepareChildren();
    const std::vector<ChildReport> reports = CheckChildren(settings.dataSet, settings.programs);
    PrintLine("");
    for (const std::string& line : TableLines(reports)) {
        PrintLine("%s", {std::string_view(line)});
    }
    const bool jsonWritten = WriteResultFile(json, JsonReport(settings.dataSet, reports));
    const bool junitWritten = WriteResultFile(junit, JunitReport(settings.dataSet, reports));
    if (!jsonWritten || !junitWritten) {
        return kExitFileWrite;
    }
    return EveryChildPassed(reports) ? 0 : 1;
}

}  // namespace

int main() {
    ReadLocaleSettings();
    int status = 0;
    const int errorStatus =
        RunProgram(ReportForm::kStandardError, [&status] { status = RunCheck(); });
    return errorStatus != 0 ? errorStatus : status;
}
