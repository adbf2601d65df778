// The lines the six programs and the sample feeder children print, the
// command lines the launchers give their children, and the deadlines the
// launchers keep: one source that the programs print from and herdtrace's
// transcript reader recognises, so a change of wording changes both (and the
// reader's tests show it). kProgramFormats at the end lists every format.
//
// Windows-1251 formats of FormatText. An event line begins with kEventStamp,
// the time stamp; prompts, listings and start-failure lines have none.
#pragma once

#include <cstddef>
#include <string_view>

#include "cp1251_unit.h"

inline constexpr std::string_view kEventStamp = "%s - ";

// ---- herdboss1: the herd launcher ------------------------------------------------
inline constexpr std::string_view kHerdGreetingLine = "%s - Начало работы"_cp1251;
inline constexpr std::string_view kHerdCountPrompt =
    "Введите количество процессов (1 до 15)>"_cp1251;
inline constexpr std::string_view kHerdCountFallback =
    "Введено некорректное значение. Используем настройки по умолчанию (15)."_cp1251;
inline constexpr std::string_view kHerdListingTitle = "Доступные процессы:"_cp1251;
inline constexpr std::string_view kHerdListingLine =
    "%s - Процесс %d, возраст: %d, вес: %f."_cp1251;
inline constexpr std::string_view kHerdEditPrompt =
    "Введите № процесса для редактирования параметров или 0 для продолжения работы>"_cp1251;
inline constexpr std::string_view kHerdNoEditLine = "Продолжаем работу..."_cp1251;
inline constexpr std::string_view kHerdPriorityPrompt = "Введите приоритет (0 до 5)>"_cp1251;
inline constexpr std::string_view kHerdAgePrompt = "Введите возраст (1 до 60)>"_cp1251;
inline constexpr std::string_view kHerdWeightPrompt = "Введите вес (1 до 40)>"_cp1251;
inline constexpr std::string_view kHerdRejectedLine =
    "Введено некорректное значение. Используем настройки по умолчанию."_cp1251;
inline constexpr std::string_view kHerdStartFailedLine = "Ошибка запуска процесса %d"_cp1251;
inline constexpr std::string_view kHerdTimeUpLine = "%s - ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО"_cp1251;
inline constexpr std::string_view kHerdDestroyedLine = "%s - процесс %d уничтожен."_cp1251;
inline constexpr std::string_view kHerdEndedLine = "%s - процесс %d нормально завершился"_cp1251;
// The herd gets this long, however early its elephants finish.
inline constexpr unsigned kHerdWaitMilliseconds = 25000;
// An elephant's command line: program, number, age, weight ("tusker1 3 40 4.80").
inline constexpr std::string_view kHerdChildCommandLine = "%s %d %d %f";

// ---- tusker1: the elephant ---------------------------------------------------------
inline constexpr std::string_view kElephantSearchLine =
    "%s - Слон %s поиск начал, приоритет - %s"_cp1251;
inline constexpr std::string_view kElephantFoundLine = "%s - Слон %s нашел воду"_cp1251;
inline constexpr std::string_view kElephantDrunkLine = "%s - Слон %s напился"_cp1251;

// ---- taskwarden: the monitor -------------------------------------------------------
inline constexpr std::string_view kMonitorHeadingLine = "%s - МОНИТОР ПРОЦЕССОВ."_cp1251;
inline constexpr std::string_view kMonitorHeadingRule = "-*******************************-";
inline constexpr std::string_view kMonitorStartLine = "%s - НАЧАЛО РАБОТЫ."_cp1251;
inline constexpr std::string_view kMonitorCountPrompt =
    "Введите количество процессов (не больше %d): "_cp1251;
inline constexpr std::string_view kMonitorObservedPrompt =
    "Введите номер наблюдаемого процесса (если наблюдение не нужно, то любое число не из таблицы): "_cp1251;
inline constexpr std::string_view kMonitorEditHeading = "Ввод параметров для %d процесса:"_cp1251;
inline constexpr std::string_view kMonitorStage1Prompt =
    "Введите параметр первого этапа (по умолчанию %d): "_cp1251;
inline constexpr std::string_view kMonitorStage2Prompt =
    "Введите параметр второго этапа (по умолчанию %d): "_cp1251;
inline constexpr std::string_view kMonitorPriorityPrompt = "Введите № приоритета: "_cp1251;
inline constexpr std::string_view kMonitorWaitPrompt = "Введите время ожидания (в с.): "_cp1251;
inline constexpr std::string_view kMonitorStartFailedLine =
    "ОШИБКА ЗАПУСКА %2d ПРОЦЕССА № %d."_cp1251;
inline constexpr std::string_view kMonitorTimeUpLine =
    "%s - ВРЕМЯ ОЖИДАНИЯ (%g с.) ИСТЕКЛО."_cp1251;
inline constexpr std::string_view kMonitorEndedLine =
    "%s - Процесс %2d - нормально завершился."_cp1251;
inline constexpr std::string_view kProcessTableHeading =
    "Процесс   Параметр первого этапа   Параметр второго этапа"_cp1251;
inline constexpr std::string_view kProcessTableRow = "%7d%25d%25d";
inline constexpr std::string_view kPriorityMenuHeading = "№   Приоритет"_cp1251;
inline constexpr std::string_view kPriorityMenuRow = "%d   %s.";
// A worker's command line: program, worker number, stage-1 and stage-2
// parameters, the id of the monitor's message thread.
inline constexpr std::string_view kMonitorChildCommandLine = "%s %d %d %d %d";

// ---- stageworker: the worker (with its side of the messages) ------------------------
inline constexpr std::string_view kWorkerStartedLine =
    "%s - Процесс %2d - запущен, приоритет - %s."_cp1251;
inline constexpr std::string_view kWorkerFirstStageLine =
    "%s - Процесс %2d - выполнение первого этапа (параметр %d)..."_cp1251;
inline constexpr std::string_view kWorkerFirstDoneLine =
    "%s - Процесс %2d - первый этап выполнен."_cp1251;
inline constexpr std::string_view kWorkerSecondStageLine =
    "%s - Процесс %2d - выполнение второго этапа (параметр %d)..."_cp1251;
inline constexpr std::string_view kWorkerSecondDoneLine =
    "%s - Процесс %2d - второй этап выполнен."_cp1251;
inline constexpr std::string_view kWorkerEndOrderLine =
    "%s - Процесс %2d - принял сообщение WM_MYTERM."_cp1251;
inline constexpr std::string_view kWorkerWaitFactorLine =
    "%s - Процесс %2d - фактор ожидания = %d."_cp1251;
inline constexpr std::string_view kWorkerForcedEndLine =
    "%s - Процесс %2d - завершен принудительно."_cp1251;
inline constexpr std::string_view kWorkerReprieveLine =
    "%s - Процесс %2d - получил отсрочку."_cp1251;

// ---- herdboss2 and herdboss6: the feeders ---------------------------------------------
inline constexpr std::string_view kFeederGreetingLine = "%s - Начало работы"_cp1251;
inline constexpr std::string_view kProcessFeederStartFailedLine =
    "Ошибка запуска процесса %d"_cp1251;
inline constexpr std::string_view kProcessFeederEndedLine =
    "%s - процесс %s нормально завершился"_cp1251;
inline constexpr std::string_view kProcessFeederKilledLine =
    "%s - процесс %s завершился принудительно"_cp1251;
inline constexpr std::string_view kElephantFeederStartFailedLine = "Ошибка запуска Слона %d"_cp1251;
inline constexpr std::string_view kElephantFeederEndedLine =
    "%s - Слон %s нормально завершился"_cp1251;
inline constexpr std::string_view kElephantFeederKilledLine = "%s - Слон %s погиб"_cp1251;
inline constexpr std::string_view kRingFailureLine =
    "Не удалось создать общую память «%s», ошибка %d"_cp1251;
// Feeding ends when every child has its ration or after this long.
inline constexpr unsigned kFeedingMilliseconds = 30000;
// A feeder child's command line: program, name, age, weight ("tusker6 Tandy 3 1.70").
inline constexpr std::string_view kFeederChildCommandLine = "%s %s %d %f";

// ---- tusker2 and tusker6: the sample feeder children -----------------------------------
// "%s" (tusker2: its name says "процесс" itself) or "Слон %s" (tusker6): who
// the lines below name.
inline constexpr std::string_view kProcessChildWho = "%s"_cp1251;
inline constexpr std::string_view kElephantChildWho = "Слон %s"_cp1251;
inline constexpr std::string_view kChildStartLine =
    "%s - %s начал есть, рацион - %d, приоритет - %s"_cp1251;
inline constexpr std::string_view kChildProgressLine = "%s - %s съел %d порций"_cp1251;
inline constexpr std::string_view kChildFedLine = "%s - %s наелся"_cp1251;
inline constexpr std::string_view kChildNoRingLine = "%s - %s не нашел свою общую память"_cp1251;
inline constexpr std::string_view kChildOrphanLine =
    "%s - %s остался без корма и завершился"_cp1251;

// ---- Every program: the report of an error that nothing handles ---------------------
// Line 1 names the error's kind, the program and the code location (eight hex
// digits); line 2 is the error's message, a full stop added (errors_unit.cpp).
inline constexpr std::string_view kErrorReportLine = "Exception %s in module %s at %s.";
inline constexpr std::string_view kBadNumberMessage = "Invalid numeric input";
inline constexpr std::string_view kNotAnIntegerMessage = "'%s' is not a valid integer value";
inline constexpr std::string_view kNotAFloatMessage = "'%s' is not a valid floating point value";
// %d: the platform's error number, unsigned.
inline constexpr std::string_view kIoErrorMessage = "I/O error %d";

// ---- How the lines name a child -------------------------------------------------------
// The constant text of a format after its time stamp, up to its first directive.
// Indexed, not searched: GCC's sanitizer builds refuse string_view::find in a
// constant expression.
constexpr std::string_view TextBeforeFirstValue(std::string_view format) {
    const std::size_t from = format.starts_with(kEventStamp) ? kEventStamp.size() : 0;
    std::size_t end = from;
    while (end < format.size() && format[end] != '%') {
        ++end;
    }
    return format.substr(from, end - from);
}

// The words before an elephant's name and a worker's number in the lines
// that name them ("Слон Tandy", "Процесс  2"); herdtrace's lanes are named so.
inline constexpr std::string_view kElephantNamePrefix = TextBeforeFirstValue(kElephantChildWho);
inline constexpr std::string_view kWorkerNamePrefix = TextBeforeFirstValue(kWorkerStartedLine);
static_assert(TextBeforeFirstValue(kElephantSearchLine) == kElephantNamePrefix &&
                  TextBeforeFirstValue(kElephantFeederKilledLine) == kElephantNamePrefix,
              "the elephants' and the elephant feeder's lines name an elephant alike");
static_assert(TextBeforeFirstValue(kWorkerFirstStageLine) == kWorkerNamePrefix &&
                  TextBeforeFirstValue(kWorkerForcedEndLine) == kWorkerNamePrefix,
              "every worker line names the worker alike");

// ---- Every format above ---------------------------------------------------------------
// What a format is printed as.
enum class FormatUse {
    kEventLine,     // a line that begins with kEventStamp
    kUntimedLine,   // a line without a time stamp: prompt, listing, failure, report line 1
    kErrorMessage,  // line 2 of the error report, printed with a full stop added
    kTextPart,      // part of a line: who a feeder child's lines name
    kCommandLine,   // a child's command line, never printed
};

struct ProgramFormat {
    std::string_view name;
    std::string_view format;
    FormatUse use;
};

// A new format goes in here too: the formatter's fuzzer walks this table,
// and herdtrace's tests check that its reader knows every line of it.
inline constexpr ProgramFormat kProgramFormats[] = {
    {"kHerdGreetingLine", kHerdGreetingLine, FormatUse::kEventLine},
    {"kHerdCountPrompt", kHerdCountPrompt, FormatUse::kUntimedLine},
    {"kHerdCountFallback", kHerdCountFallback, FormatUse::kUntimedLine},
    {"kHerdListingTitle", kHerdListingTitle, FormatUse::kUntimedLine},
    {"kHerdListingLine", kHerdListingLine, FormatUse::kEventLine},
    {"kHerdEditPrompt", kHerdEditPrompt, FormatUse::kUntimedLine},
    {"kHerdNoEditLine", kHerdNoEditLine, FormatUse::kUntimedLine},
    {"kHerdPriorityPrompt", kHerdPriorityPrompt, FormatUse::kUntimedLine},
    {"kHerdAgePrompt", kHerdAgePrompt, FormatUse::kUntimedLine},
    {"kHerdWeightPrompt", kHerdWeightPrompt, FormatUse::kUntimedLine},
    {"kHerdRejectedLine", kHerdRejectedLine, FormatUse::kUntimedLine},
    {"kHerdStartFailedLine", kHerdStartFailedLine, FormatUse::kUntimedLine},
    {"kHerdTimeUpLine", kHerdTimeUpLine, FormatUse::kEventLine},
    {"kHerdDestroyedLine", kHerdDestroyedLine, FormatUse::kEventLine},
    {"kHerdEndedLine", kHerdEndedLine, FormatUse::kEventLine},
    {"kHerdChildCommandLine", kHerdChildCommandLine, FormatUse::kCommandLine},
    {"kElephantSearchLine", kElephantSearchLine, FormatUse::kEventLine},
    {"kElephantFoundLine", kElephantFoundLine, FormatUse::kEventLine},
    {"kElephantDrunkLine", kElephantDrunkLine, FormatUse::kEventLine},
    {"kMonitorHeadingLine", kMonitorHeadingLine, FormatUse::kEventLine},
    {"kMonitorHeadingRule", kMonitorHeadingRule, FormatUse::kUntimedLine},
    {"kMonitorStartLine", kMonitorStartLine, FormatUse::kEventLine},
    {"kMonitorCountPrompt", kMonitorCountPrompt, FormatUse::kUntimedLine},
    {"kMonitorObservedPrompt", kMonitorObservedPrompt, FormatUse::kUntimedLine},
    {"kMonitorEditHeading", kMonitorEditHeading, FormatUse::kUntimedLine},
    {"kMonitorStage1Prompt", kMonitorStage1Prompt, FormatUse::kUntimedLine},
    {"kMonitorStage2Prompt", kMonitorStage2Prompt, FormatUse::kUntimedLine},
    {"kMonitorPriorityPrompt", kMonitorPriorityPrompt, FormatUse::kUntimedLine},
    {"kMonitorWaitPrompt", kMonitorWaitPrompt, FormatUse::kUntimedLine},
    {"kMonitorStartFailedLine", kMonitorStartFailedLine, FormatUse::kUntimedLine},
    {"kMonitorTimeUpLine", kMonitorTimeUpLine, FormatUse::kEventLine},
    {"kMonitorEndedLine", kMonitorEndedLine, FormatUse::kEventLine},
    {"kProcessTableHeading", kProcessTableHeading, FormatUse::kUntimedLine},
    {"kProcessTableRow", kProcessTableRow, FormatUse::kUntimedLine},
    {"kPriorityMenuHeading", kPriorityMenuHeading, FormatUse::kUntimedLine},
    {"kPriorityMenuRow", kPriorityMenuRow, FormatUse::kUntimedLine},
    {"kMonitorChildCommandLine", kMonitorChildCommandLine, FormatUse::kCommandLine},
    {"kWorkerStartedLine", kWorkerStartedLine, FormatUse::kEventLine},
    {"kWorkerFirstStageLine", kWorkerFirstStageLine, FormatUse::kEventLine},
    {"kWorkerFirstDoneLine", kWorkerFirstDoneLine, FormatUse::kEventLine},
    {"kWorkerSecondStageLine", kWorkerSecondStageLine, FormatUse::kEventLine},
    {"kWorkerSecondDoneLine", kWorkerSecondDoneLine, FormatUse::kEventLine},
    {"kWorkerEndOrderLine", kWorkerEndOrderLine, FormatUse::kEventLine},
    {"kWorkerWaitFactorLine", kWorkerWaitFactorLine, FormatUse::kEventLine},
    {"kWorkerForcedEndLine", kWorkerForcedEndLine, FormatUse::kEventLine},
    {"kWorkerReprieveLine", kWorkerReprieveLine, FormatUse::kEventLine},
    {"kFeederGreetingLine", kFeederGreetingLine, FormatUse::kEventLine},
    {"kProcessFeederStartFailedLine", kProcessFeederStartFailedLine, FormatUse::kUntimedLine},
    {"kProcessFeederEndedLine", kProcessFeederEndedLine, FormatUse::kEventLine},
    {"kProcessFeederKilledLine", kProcessFeederKilledLine, FormatUse::kEventLine},
    {"kElephantFeederStartFailedLine", kElephantFeederStartFailedLine, FormatUse::kUntimedLine},
    {"kElephantFeederEndedLine", kElephantFeederEndedLine, FormatUse::kEventLine},
    {"kElephantFeederKilledLine", kElephantFeederKilledLine, FormatUse::kEventLine},
    {"kRingFailureLine", kRingFailureLine, FormatUse::kUntimedLine},
    {"kFeederChildCommandLine", kFeederChildCommandLine, FormatUse::kCommandLine},
    {"kProcessChildWho", kProcessChildWho, FormatUse::kTextPart},
    {"kElephantChildWho", kElephantChildWho, FormatUse::kTextPart},
    {"kChildStartLine", kChildStartLine, FormatUse::kEventLine},
    {"kChildProgressLine", kChildProgressLine, FormatUse::kEventLine},
    {"kChildFedLine", kChildFedLine, FormatUse::kEventLine},
    {"kChildNoRingLine", kChildNoRingLine, FormatUse::kEventLine},
    {"kChildOrphanLine", kChildOrphanLine, FormatUse::kEventLine},
    {"kErrorReportLine", kErrorReportLine, FormatUse::kUntimedLine},
    {"kBadNumberMessage", kBadNumberMessage, FormatUse::kErrorMessage},
    {"kNotAnIntegerMessage", kNotAnIntegerMessage, FormatUse::kErrorMessage},
    {"kNotAFloatMessage", kNotAFloatMessage, FormatUse::kErrorMessage},
    {"kIoErrorMessage", kIoErrorMessage, FormatUse::kErrorMessage},
};

// The table's uses agree with the formats: an event line and nothing else
// begins with the time stamp.
constexpr bool UsesAgreeWithStamps() {
    for (const ProgramFormat& entry : kProgramFormats) {
        if (entry.format.starts_with(kEventStamp) != (entry.use == FormatUse::kEventLine)) {
            return false;
        }
    }
    return true;
}
static_assert(UsesAgreeWithStamps(), "a format's use in kProgramFormats fits its time stamp");
