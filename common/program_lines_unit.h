// The lines the six programs and the sample feeder children print, and the
// deadlines the launchers keep: one source that the programs print from and
// herdtrace's transcript reader recognises, so a change of wording changes
// both (and the reader's tests show it).
//
// Windows-1251 formats of FormatText. An event line begins with "%s - ", the
// time stamp; prompts, listings and start-failure lines have none.
#pragma once

#include <string_view>

#include "cp1251_unit.h"

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
