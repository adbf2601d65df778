// herdcheck: checks feeder children (tusker2, tusker6 as students write
// them) in one command.
//
//   herdcheck [--set 2|6] [--json FILE] [--junit FILE] [--gradescope FILE]
//             [--points FILE] CHILD...
//
// For each CHILD program the checker plays the feeder's side of the FeedRing
// with the names, command line and ring rules of the data set (6: the named
// elephants, the default; 2: the numbered processes), twice: once with a
// steady feeder, once with a slow one, each time contained (see
// child_process_unit.h). It prints the checks of each child, then a table of
// all children, and writes the same as JSON, JUnit XML or Gradescope's
// results on request, with the points of each check (one each, or those of
// the teacher's points file, see points_unit.h). The result files are
// written whatever became of standard output. Exit code: 0 when every child
// passed every check, 1 when some did not, 2 for a wrong command line, a
// points file that is wrong or a result file that cannot be opened, 3 when a
// result file could not be written.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

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
    "Использование: herdcheck [--set 2|6] [--json ФАЙЛ] [--junit ФАЙЛ] [--gradescope ФАЙЛ]"_cp1251,
    "                         [--points ФАЙЛ] ПРОГРАММА..."_cp1251,
    "  Проверяет дочерние программы кормушки, играя за кормушку."_cp1251,
    "  --set 6      слоны Tandy, Aun, ... (tusker6 для herdboss6), по умолчанию"_cp1251,
    "  --set 2      процесс 1, процесс 2, ... (tusker2 для herdboss2)"_cp1251,
    "  --json ФАЙЛ  записать результаты в ФАЙЛ (JSON, UTF-8)"_cp1251,
    "  --junit ФАЙЛ записать результаты в ФАЙЛ (JUnit XML для систем CI)"_cp1251,
    "  --gradescope ФАЙЛ  записать результаты в ФАЙЛ (results.json для Gradescope)"_cp1251,
    "  --points ФАЙЛ      баллы проверок: строки «ключ баллы», по умолчанию 1 за проверку"_cp1251,
    "  Код выхода: 0 - все проверки пройдены, 1 - нет, 2 - ошибка в командной строке."_cp1251,
};
constexpr std::string_view kFileOpenFailure =
    "herdcheck: не удалось открыть файл «%s» для записи (ошибка %d)"_cp1251;
constexpr std::string_view kFileWriteFailure = "herdcheck: не удалось записать файл «%s»"_cp1251;
constexpr std::string_view kPointsOpenFailure =
    "herdcheck: не удалось прочитать файл баллов «%s» (ошибка %d)"_cp1251;
constexpr std::string_view kPointsWrong = "herdcheck: файл баллов «%s», %s"_cp1251;

constexpr int kExitUsage = 2;
constexpr int kExitFileWrite = 3;

// ---- Command line -----------------------------------------------------------

struct Settings {
    int dataSet = 6;
    std::string jsonPath;
    std::string junitPath;
    std::string gradescopePath;
    std::string pointsPath;
    std::vector<std::string> programs;
    bool help = false;
    std::string error;  // Windows-1251; empty when the command line is fine
};

// Where the file named after an option goes; null for a word that is no such option.
std::string* FileOption(Settings& settings, const std::string& word) {
    if (word == "--json") {
        return &settings.jsonPath;
    }
    if (word == "--junit") {
        return &settings.junitPath;
    }
    if (word == "--gradescope") {
        return &settings.gradescopePath;
    }
    return word == "--points" ? &settings.pointsPath : nullptr;
}

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
        } else if (std::string* path = FileOption(settings, word)) {
            if (i + 1 >= words.size()) {
                settings.error = FormatText("herdcheck: после %s нужно имя файла"_cp1251,
                                            {std::string_view(word)});
            } else {
                *path = words[++i];
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

// The points of the teacher's file, or one point each without one; false
// (with a message) when the file cannot be read or is wrong.
bool ReadPointsFile(const std::string& path, CheckPoints& points) {
    if (path.empty()) {
        return true;
    }
    std::FILE* file = std::fopen(NativePath(path).c_str(), "rb");
    if (file == nullptr) {
        WriteErrorLine(FormatText(kPointsOpenFailure,
                                  {std::string_view(path), static_cast<std::int32_t>(errno)}));
        return false;
    }
    // A folder opens but cannot be read; /dev/zero would never end. A table
    // of eight checks takes a few hundred bytes.
    constexpr std::size_t kLargestPointsFile = 64 * 1024;
    std::string text;
    char buffer[4096];
    for (std::size_t got; text.size() <= kLargestPointsFile &&
                          (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, got);
    }
    const int readError = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (readError != 0 || text.size() > kLargestPointsFile) {
        WriteErrorLine(FormatText(kPointsOpenFailure,
                                  {std::string_view(path), static_cast<std::int32_t>(readError)}));
        return false;
    }
    const std::string error = ReadCheckPoints(text, points);
    if (!error.empty()) {
        WriteErrorLine(FormatText(kPointsWrong, {std::string_view(path), std::string_view(error)}));
    }
    return error.empty();
}

// The result files asked for, opened before the check.
struct ResultFiles {
    ResultFile json;
    ResultFile junit;
    ResultFile gradescope;
};

bool OpenResultFiles(ResultFiles& files) {
    for (ResultFile* result : {&files.json, &files.junit, &files.gradescope}) {
        if (!OpenResultFile(*result)) {
            for (ResultFile* opened : {&files.json, &files.junit, &files.gradescope}) {
                if (opened->file != nullptr) {
                    std::fclose(opened->file);
                }
            }
            return false;
        }
    }
    return true;
}

// Writes every file asked for, even after one has failed; false when one did.
bool WriteResultFiles(ResultFiles& files, int dataSet, const std::vector<ChildReport>& reports,
                      const CheckPoints& points) {
    const bool jsonWritten = WriteResultFile(files.json, JsonReport(dataSet, reports, points));
    const bool junitWritten = WriteResultFile(files.junit, JunitReport(dataSet, reports, points));
    const bool gradescopeWritten =
        WriteResultFile(files.gradescope, GradescopeReport(reports, points));
    return jsonWritten && junitWritten && gradescopeWritten;
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
    CheckPoints points;
    if (!ReadPointsFile(settings.pointsPath, points)) {
        return kExitUsage;
    }
    ResultFiles files{{settings.jsonPath}, {settings.junitPath}, {settings.gradescopePath}};
    if (!OpenResultFiles(files)) {
        return kExitUsage;
    }
    PrepareChildren();
    const std::vector<ChildReport> reports = CheckChildren(settings.dataSet, settings.programs);
    ShowLine("");
    for (const std::string& line : TableLines(reports)) {
        ShowLine("%s", {std::string_view(line)});
    }
    if (!WriteResultFiles(files, settings.dataSet, reports, points)) {
        return kExitFileWrite;
    }
    return EveryChildPassed(reports) ? 0 : 1;
}

// A standard stream that was closed (">&-") is opened on /dev/null, so that
// the next file opened, a result file or a child's pipe, does not take its
// number and receive the table.
void KeepStandardStreamsOpen() {
#ifndef _WIN32
    for (int stream = 0; stream <= 2; ++stream) {
        if (fcntl(stream, F_GETFD) < 0 && errno == EBADF) {
            open("/dev/null", O_RDWR);  // the lowest free number: this stream's
        }
    }
#endif
}

}  // namespace

int main() {
    KeepStandardStreamsOpen();
    ReadLocaleSettings();
    int status = 0;
    const int errorStatus =
        RunProgram(ReportForm::kStandardError, [&status] { status = RunCheck(); });
    return errorStatus != 0 ? errorStatus : status;
}
