// herdtrace: runs a launcher of the course (or any program) and draws who got
// the processor when; or draws the same picture from a saved transcript.
//
//   herdtrace [-o FILE.svg] [--trace FILE.json] -- PROGRAM [ARGS...]
//   herdtrace --from TRANSCRIPT [-o FILE.svg] [--trace FILE.json]
//   herdtrace --live [-o FILE.svg] [--trace FILE.json] -- PROGRAM [ARGS...]
//
// --trace also writes the run as a trace-event file for a trace viewer;
// --live also writes FILE.html, kept current while PROGRAM runs; --samples
// takes the states from samples even where the switch records are allowed.
//
// Exit code: PROGRAM's own; 2 for a wrong command line; 125 when the
// transcript cannot be read (missing, unreadable, larger than 64 MB) or the
// picture or the trace file cannot be written; 127 when PROGRAM cannot be started. Any
// transcript that can be read is drawn: lines it does not understand are
// listed (the first 20) and counted, and a long line is cut in the list.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "live_page.h"
#include "picture.h"
#include "summary.h"
#include "trace_export.h"
#include "tracer.h"
#include "transcript_reader.h"

namespace {

using namespace herdtrace;

// Exit codes of herdtrace's own failures (PROGRAM's own code otherwise).
constexpr int kUsageError = 2;
constexpr int kToolFailure = 125;
constexpr int kCannotStart = 127;
// Unread lines listed on standard error; the rest are only counted.
constexpr std::size_t kUnreadShown = 20;

struct Arguments {
    std::string picture = "herdtrace.svg";
    std::string transcript;  // --from
    std::string traceFile;   // --trace
    std::vector<std::string> command;
    bool live = false;                        // --live: the page beside the picture
    StateChoice states = StateChoice::kBest;  // --samples: never the switch records
};

const char* const kUsage =
    "Использование:\n"
    "  herdtrace [-o ФАЙЛ.svg] [--trace ФАЙЛ.json] -- ПРОГРАММА [АРГУМЕНТЫ...]\n"
    "  herdtrace --from ЗАПИСЬ_КОНСОЛИ [-o ФАЙЛ.svg] [--trace ФАЙЛ.json]\n"
    "  herdtrace --live [-o ФАЙЛ.svg] [--trace ФАЙЛ.json] -- ПРОГРАММА [АРГУМЕНТЫ...]\n"
    "  --samples: состояния по отсчётам, даже где доступны точные\n";

// Options first, then PROGRAM (after "--" or at the first word that is no
// option); exactly one of PROGRAM and --from.
bool ParseArguments(int argc, char** argv, Arguments& arguments) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            ++i;
            break;
        }
        if ((word == "-o" || word == "--from" || word == "--trace") && i + 1 < argc) {
            (word == "-o"       ? arguments.picture
             : word == "--from" ? arguments.transcript
                                : arguments.traceFile) = argv[++i];
        } else if (word == "--live") {
            arguments.live = true;
        } else if (word == "--samples") {
            arguments.states = StateChoice::kSampled;
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

// True only when the whole picture reached the file.
bool WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    return !file.fail();
}

// Reads the transcript, at most kLargestTranscript bytes of it; the
// reason in Russian when it cannot.
bool ReadTranscriptFile(const std::string& path, std::string& content, std::string& failure) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        failure = "не удалось прочитать " + path;
        return false;
    }
    // In pieces, so that a small file takes little memory and a device
    // without end (/dev/zero) stops at the limit; the text never holds more.
    std::vector<char> piece(1 << 20);
    file.seekg(0, std::ios::end);  // a file's size, where it has one, is room made once
    content.reserve(
        std::min<std::size_t>(std::max<std::streamoff>(file.tellg(), 0), kLargestTranscript));
    file.seekg(0, std::ios::beg);
    file.clear();
    bool tooLarge = false;
    while (file && !tooLarge) {
        file.read(piece.data(), std::streamsize(piece.size()));
        const auto got = std::size_t(file.gcount());
        tooLarge = content.size() + got > kLargestTranscript;
        if (!tooLarge && content.size() + got > content.capacity()) {
            content.reserve(std::min(kLargestTranscript, 2 * (content.size() + got)));
        }
        content.append(piece.data(), tooLarge ? 0 : got);
    }
    if (file.bad()) {
        failure = "не удалось прочитать " + path;
        return false;
    }
    if (tooLarge) {
        failure = path + " больше " + std::to_string(kLargestTranscript >> 20) +
                  " МБ: это не запись консоли курса";
        return false;
    }
    return true;
}

// The lines herdtrace did not understand, by number, on standard error:
// a changed program or a foreign line shows there.
void ReportUnread(const Trace& trace) {
    std::string report;
    for (std::size_t i = 0; i < trace.unread.size() && i < kUnreadShown; ++i) {
        report += "Строка " + std::to_string(trace.unread[i].number) +
                  " не понята: " + trace.unread[i].text + "\n";
    }
    if (trace.unreadCount > kUnreadShown) {
        report += "... и ещё " + std::to_string(trace.unreadCount - kUnreadShown) + "\n";
    }
    WriteUserText(report, true);
}

// Writes the picture (and the trace file, when asked) and prints the
// summary; the exit code of a failure.
int Conclude(const Trace& trace, const Arguments& arguments) {
    const std::string& picture = arguments.picture;
    if (!WriteWholeFile(picture, RenderSvg(trace))) {
        WriteUserText("herdtrace: не удалось записать " + picture + "\n", true);
        return kToolFailure;
    }
    const std::string& traceFile = arguments.traceFile;
    if (!traceFile.empty() && !WriteWholeFile(traceFile, TraceEventJson(trace))) {
        WriteUserText("herdtrace: не удалось записать " + traceFile + "\n", true);
        return kToolFailure;
    }
    WriteUserText(Summary(trace) + "Рисунок: " + picture + "\n" +
                      (traceFile.empty() ? "" : "Файл для просмотрщика трасс: " + traceFile + "\n"),
                  false);
    return 0;
}

// --live: the page's last frame, the whole run with its summary.
int ConcludeLive(LivePage& page, const Trace& trace) {
    if (!ShowEnd(page, trace)) {
        WriteUserText("herdtrace: не удалось записать " + page.path + "\n", true);
        return kToolFailure;
    }
    WriteUserText("Страница: " + page.path + "\n", false);
    return 0;
}

// --from: the picture of a saved transcript.
int DrawTranscript(const Arguments& arguments) {
    std::string bytes;
    std::string failure;
    if (!ReadTranscriptFile(arguments.transcript, bytes, failure)) {
        WriteUserText("herdtrace: " + failure + "\n", true);
        return kToolFailure;
    }
    const Trace trace = ReadTranscript(bytes);
    ReportUnread(trace);
    const int concluded = Conclude(trace, arguments);
    LivePage page = OpenLivePage(arguments.picture);
    return concluded == 0 && arguments.live ? ConcludeLive(page, trace) : concluded;
}

// PROGRAM run under observation, then drawn from its output and samples;
// PROGRAM's exit code is passed on.
int TraceProgram(const Arguments& arguments) {
    LivePage page = OpenLivePage(arguments.picture);
    ProgressReport progress;
    if (arguments.live) {
        progress = [&page](const TracedRun& soFar) { ShowSoFar(page, soFar, LocalTimeOfDay()); };
    }
    const TracedRun run = RunTraced(arguments.command, arguments.states, progress);
    if (!run.started) {
        WriteUserText("herdtrace: не удалось запустить " + arguments.command[0] + ": " +
                          run.startError + "\n",
                      true);
        return kCannotStart;
    }
    Trace trace = ReadTranscript(run.output);
    AttachSamples(trace, run);
    int failure = Conclude(trace, arguments);
    if (arguments.live && failure == 0) {
        failure = ConcludeLive(page, trace);
    }
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
