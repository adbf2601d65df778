// herdtrace: runs a launcher of the course (or any program) and draws who got
// the processor when; or draws the same picture from a saved transcript.
//
//   herdtrace [-o FILE.svg] -- PROGRAM [ARGS...]
//   herdtrace --from TRANSCRIPT [-o FILE.svg]
//
// Exit code: PROGRAM's own; 2 for a wrong command line; 125 when the
// transcript cannot be read or the picture cannot be written; 127 when
// PROGRAM cannot be started.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "picture.h"
#include "summary.h"
#include "tracer.h"
#include "transcript_reader.h"

namespace {

using namespace herdtrace;

constexpr int kUsageError = 2;
constexpr int kToolFailure = 125;
constexpr int kCannotStart = 127;
constexpr std::size_t kUnreadShown = 20;

struct Arguments {
    std::string picture = "herdtrace.svg";
    std::string transcript;  // --from
    std::vector<std::string> command;
};

const char* const kUsage =
    "Использование:\n"
    "  herdtrace [-o ФАЙЛ.svg] -- ПРОГРАММА [АРГУМЕНТЫ...]\n"
    "  herdtrace --from ЗАПИСЬ_КОНСОЛИ [-o ФАЙЛ.svg]\n";

bool ParseArguments(int argc, char** argv, Arguments& arguments) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            ++i;
            break;
        }
        if ((word == "-o" || word == "--from") && i + 1 < argc) {
            (word == "-o" ? arguments.picture : arguments.transcript) = argv[++i];
        } else if (!word.empty() && word[0] == '-') {
            return false;
        } else {
            break;  // PROGRAM without "--"
        }
    }
    for (; i < argc; ++i) {
        arguments.command.push_back(argv[i]);
    }
    return arguments.transcript.empty() != arguments.command.empty() && !arguments.picture.empty();
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    return !file.fail();
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    content = text.str();
    return !file.bad();
}

void ReportUnread(const Trace& trace) {
    std::string report;
    for (std::size_t i = 0; i < trace.unread.size() && i < kUnreadShown; ++i) {
        report += "Строка " + std::to_string(trace.unread[i].number) +
                  " не понята: " + trace.unread[i].text + "\n";
    }
    if (trace.unread.size() > kUnreadShown) {
        report += "... и ещё " + std::to_string(trace.unread.size() - kUnreadShown) + "\n";
    }
    WriteUserText(report, true);
}

// Writes the picture and prints the summary; the exit code of a failure.
int Conclude(const Trace& trace, const std::string& picture) {
    if (!WriteWholeFile(picture, RenderSvg(trace))) {
        WriteUserText("herdtrace: не удалось записать " + picture + "\n", true);
        return kToolFailure;
    }
    WriteUserText(Summary(trace) + "Рисунок: " + picture + "\n", false);
    return 0;
}

int DrawTranscript(const Arguments& arguments) {
    std::string bytes;
    if (!ReadWholeFile(arguments.transcript, bytes)) {
        WriteUserText("herdtrace: не удалось прочитать " + arguments.transcript + "\n", true);
        return kToolFailure;
    }
    const Trace trace = ReadTranscript(bytes);
    ReportUnread(trace);
    return Conclude(trace, arguments.picture);
}

int TraceProgram(const Arguments& arguments) {
    const TracedRun run = RunTraced(arguments.command);
    if (!run.started) {
        WriteUserText("herdtrace: не удалось запустить " + arguments.command[0] + ": " +
                          run.startError + "\n",
                      true);
        return kCannotStart;
    }
    Trace trace = ReadTranscript(run.output);
    AttachSamples(trace, run);
    const int failure = Conclude(trace, arguments.picture);
    return failure != 0 ? failure : run.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        WriteUserText(kUsage, true);
        return kUsageError;
    }
    return arguments.transcript.empty() ? TraceProgram(arguments) : DrawTranscript(arguments);
}
