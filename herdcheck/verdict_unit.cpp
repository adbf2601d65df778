// Judging a child's two runs.
#include "verdict_unit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "cp1251_unit.h"
#include "feed_ring_unit.h"
#include "format_unit.h"

namespace {

struct CheckText {
    std::string_view title;
    std::string_view label;
    std::string_view key;
};

constexpr CheckText kCheckTexts[kCheckCount] = {
    {"находит свой блок"_cp1251, "блок"_cp1251, "finds_block"},
    {"берёт только положенное"_cp1251, "взятие"_cp1251, "takes_only_placed"},
    {"порядок кольца"_cp1251, "порядок"_cp1251, "ring_order"},
    {"ровно свой рацион"_cp1251, "рацион"_cp1251, "exact_ration"},
    {"завершается, наевшись"_cp1251, "конец"_cp1251, "ends_when_fed"},
    {"ждёт, не занимая процессор"_cp1251, "ожидание"_cp1251, "waits_politely"},
    {"выдерживает медленную кормушку"_cp1251, "медленно"_cp1251, "survives_slow_feeder"},
    {"не выходит за свои пределы"_cp1251, "пределы"_cp1251, "stays_contained"},
};

CheckResult Passed(std::string detail = {}) {
    return {Verdict::kPassed, std::move(detail)};
}
CheckResult Failed(std::string detail) {
    return {Verdict::kFailed, std::move(detail)};
}
CheckResult NotJudged(std::string detail) {
    return {Verdict::kNotJudged, std::move(detail)};
}

// "порцию", "порции" or "порций" after a count, as in "съел 21 порцию".
std::string_view PortionsWord(std::int32_t count) {
    const std::int32_t lastTwo = count % 100;
    const std::int32_t last = count % 10;
    if (lastTwo >= 11 && lastTwo <= 14) {
        return "порций"_cp1251;
    }
    if (last == 1) {
        return "порцию"_cp1251;
    }
    return last >= 2 && last <= 4 ? "порции"_cp1251 : "порций"_cp1251;
}

std::string Seconds(double seconds) {
    return FormatText("%f с"_cp1251, {seconds});
}

bool StartedAndAte(const RunOutcome& run) {
    return run.end != RunEnd::kNotStarted && run.eaten > 0;
}

// The child read its weight without the fraction and ate the ration of that.
bool ReadWeightWrongly(const ElephantRecord& row, const RunOutcome& run) {
    const std::int32_t misread = MisreadRation(row.weight);
    return misread != RationOf(row.weight) && run.eaten == misread;
}

std::string HowItEnded(const RunOutcome& run) {
    switch (run.end) {
        case RunEnd::kExited:
            return FormatText("завершился с кодом %d"_cp1251,
                              {static_cast<std::int32_t>(run.exitCode)});
        case RunEnd::kCrashed:
            return FormatText("упал (%s)"_cp1251, {std::string_view(run.crashName)});
        case RunEnd::kStopped:
            if (run.stopReason == StopReason::kFlooded) {
                return std::string("залил вывод, остановлен проверкой"_cp1251);
            }
            if (run.stopReason == StopReason::kOverLimit) {
                return std::string(
                    "превысил предел процессов или памяти, остановлен проверкой"_cp1251);
            }
            if (run.stopReason == StopReason::kTimeLimit) {
                return FormatText("не уложился в %s, остановлен проверкой"_cp1251,
                                  {std::string_view(Seconds(run.runSeconds))});
            }
            return FormatText("%s ничего не брал, остановлен проверкой"_cp1251,
                              {std::string_view(Seconds(run.quietSeconds))});
        case RunEnd::kNotStarted:
            break;
    }
    return FormatText("не запустился, ошибка %d"_cp1251,
                      {static_cast<std::int32_t>(run.startError)});
}

CheckResult JudgeFindsBlock(const ElephantRecord& row, const RunOutcome& run) {
    if (run.end == RunEnd::kNotStarted) {
        return Failed(HowItEnded(run));
    }
    if (run.eaten == 0) {
        // A crash before the first portion is judged by how the child ends.
        if (run.end == RunEnd::kCrashed) {
            return NotJudged(std::string("упал раньше"_cp1251));
        }
        return Failed(
            FormatText("не взял ни одной порции: %s"_cp1251, {std::string_view(HowItEnded(run))}));
    }
    if (ReadWeightWrongly(row, run)) {
        return Failed(FormatText("вес %f прочитан как %d: съел %d %s из %d"_cp1251,
                                 {row.weight, static_cast<std::int32_t>(row.weight), run.eaten,
                                  PortionsWord(run.eaten), RationOf(row.weight)}));
    }
    return Passed();
}

CheckResult JudgeTakesOnlyPlaced(const RunOutcome& run) {
    if (run.wrongWrite.slot >= 0) {
        return Failed(FormatText(run.wrongWrite.intoEmpty
                                     ? "слот %d: записано значение %d в пустой слот"_cp1251
                                     : "слот %d: записано значение %d"_cp1251,
                                 {run.wrongWrite.slot, run.wrongWrite.value}));
    }
    return StartedAndAte(run) ? Passed() : NotJudged({});
}

CheckResult JudgeRingOrder(const RunOutcome& run) {
    if (run.orderFault.slot >= 0) {
        return Failed(FormatText("взял порцию из слота %d, а по порядку был слот %d"_cp1251,
                                 {run.orderFault.slot, run.orderFault.expected}));
    }
    return StartedAndAte(run) ? Passed() : NotJudged({});
}

CheckResult JudgeExactRation(const ElephantRecord& row, const RunOutcome& run) {
    if (!StartedAndAte(run)) {
        return NotJudged({});
    }
    // A misread weight is the block check's fault; the count is judged
    // against the weight the child read.
    const std::int32_t ration =
        ReadWeightWrongly(row, run) ? MisreadRation(row.weight) : RationOf(row.weight);
    if (run.eaten == ration) {
        return Passed();
    }
    if (run.eaten == run.supply) {
        return Failed(FormatText("съел все %d %s, рацион %d"_cp1251,
                                 {run.eaten, PortionsWord(run.eaten), ration}));
    }
    return Failed(
        FormatText("съел %d %s из %d"_cp1251, {run.eaten, PortionsWord(run.eaten), ration}));
}

CheckResult JudgeEndsWhenFed(const RunOutcome& run) {
    if (run.end == RunEnd::kCrashed) {
        return Failed(run.eaten == 0 ? FormatText("упал сразу (%s), не взяв ни одной порции"_cp1251,
                                                  {std::string_view(run.crashName)})
                                     : FormatText("%s, съев %d %s"_cp1251,
                                                  {std::string_view(HowItEnded(run)), run.eaten,
                                                   PortionsWord(run.eaten)}));
    }
    if (!StartedAndAte(run)) {
        return NotJudged({});
    }
    if (run.end == RunEnd::kStopped) {
        return Failed(
            run.stopReason == StopReason::kQuiet
                ? FormatText(
                      "не завершился за %s после последней порции, остановлен проверкой"_cp1251,
                      {std::string_view(Seconds(run.quietSeconds))})
                : HowItEnded(run));
    }
    if (run.exitCode != 0) {
        return Failed(HowItEnded(run));
    }
    if (run.secondsAfterLastPortion > kEndWithinSeconds) {
        return Failed(FormatText("завершился через %s после последней порции"_cp1251,
                                 {std::string_view(Seconds(run.secondsAfterLastPortion))}));
    }
    return Passed();
}

CheckResult JudgeWaitsPolitely(const RunOutcome& run) {
    if (run.waitingSeconds < kLeastWaitingSeconds) {
        return NotJudged(std::string("ожидания не было"_cp1251));
    }
    const double share = run.waitingCpuSeconds / run.waitingSeconds;
    const auto percent = static_cast<std::int32_t>(std::lround(share * 100.0));
    if (share >= kMostWaitingCpuShare) {
        return Failed(FormatText("занимал %d % процессора в ожидании"_cp1251, {percent}));
    }
    return Passed(FormatText("%d % процессора в ожидании"_cp1251, {percent}));
}

// What the child tried beyond its limits in one run, in the student's words.
void AddHarms(const ContainmentHarms& harms, std::vector<std::string>& said) {
    const auto say = [&said](std::string text) {
        if (std::find(said.begin(), said.end(), text) == said.end()) {
            said.push_back(std::move(text));
        }
    };
    if (harms.processLimitReached) {
        say(FormatText("запустил больше %d процессов"_cp1251, {kMostProcessesAtOnce}));
    }
    if (harms.memoryLimitReached) {
        say(FormatText("превысил %d МБ памяти"_cp1251, {kMostMemoryMegabytes}));
    }
    if (!harms.networkTried.empty()) {
        say(FormatText("пытался выйти в сеть (%s)"_cp1251, {std::string_view(harms.networkTried)}));
    }
    if (!harms.wroteOutside.empty()) {
        say(FormatText("пытался писать вне своей папки: %s"_cp1251,
                       {std::string_view(harms.wroteOutside)}));
    }
    if (harms.leftBehind > 0) {
        say(FormatText("оставил после себя процессы (%d)"_cp1251, {harms.leftBehind}));
    }
}

CheckResult JudgeStaysContained(const RunOutcome& steady, const RunOutcome& slow) {
    if (steady.end == RunEnd::kNotStarted) {
        return NotJudged({});
    }
    std::vector<std::string> said;
    AddHarms(steady.harms, said);
    AddHarms(slow.harms, said);
    if (said.empty()) {
        return Passed();
    }
    std::string detail = said.front();
    for (std::size_t i = 1; i < said.size(); ++i) {
        detail += "; " + said[i];
    }
    return Failed(detail);
}

// The first five checks of one run.
void JudgeRun(const ElephantRecord& row, const RunOutcome& run,
              CheckResult (&results)[kCheckCount]) {
    results[static_cast<int>(Check::kFindsBlock)] = JudgeFindsBlock(row, run);
    results[static_cast<int>(Check::kTakesOnlyPlaced)] = JudgeTakesOnlyPlaced(run);
    results[static_cast<int>(Check::kRingOrder)] = JudgeRingOrder(run);
    results[static_cast<int>(Check::kExactRation)] = JudgeExactRation(row, run);
    results[static_cast<int>(Check::kEndsWhenFed)] = JudgeEndsWhenFed(run);
}

// Fails with the first check the slow run fails and the steady run did not.
CheckResult JudgeSurvivesSlowFeeder(const CheckResult (&steady)[kCheckCount],
                                    const CheckResult (&slow)[kCheckCount]) {
    for (int check = 0; check <= static_cast<int>(Check::kEndsWhenFed); ++check) {
        if (slow[check].verdict == Verdict::kFailed && steady[check].verdict != Verdict::kFailed) {
            return Failed(FormatText(
                "%s: %s"_cp1251, {kCheckTexts[check].title, std::string_view(slow[check].detail)}));
        }
    }
    return Passed();
}

}  // namespace

std::string_view CheckTitle(Check check) {
    return kCheckTexts[static_cast<int>(check)].title;
}
std::string_view CheckLabel(Check check) {
    return kCheckTexts[static_cast<int>(check)].label;
}
std::string_view CheckKey(Check check) {
    return kCheckTexts[static_cast<int>(check)].key;
}

std::int32_t MisreadRation(double weight) {
    return RationOf(std::trunc(weight));
}

void JudgeChild(const ElephantRecord& row, const RunOutcome& steady, const RunOutcome& slow,
                CheckResult (&results)[kCheckCount]) {
    JudgeRun(row, steady, results);
    CheckResult slowResults[kCheckCount];
    JudgeRun(row, slow, slowResults);
    results[static_cast<int>(Check::kWaitsPolitely)] = JudgeWaitsPolitely(slow);
    results[static_cast<int>(Check::kSurvivesSlowFeeder)] =
        steady.end == RunEnd::kNotStarted ? NotJudged({})
                                          : JudgeSurvivesSlowFeeder(results, slowResults);
    results[static_cast<int>(Check::kStaysContained)] = JudgeStaysContained(steady, slow);
}

bool FailedOnTime(const RunOutcome& run) {
    const bool stoppedOnTime =
        run.end == RunEnd::kStopped &&
        (run.stopReason == StopReason::kQuiet || run.stopReason == StopReason::kTimeLimit);
    const bool endedLate = run.end == RunEnd::kExited && run.eaten > 0 &&
                           run.secondsAfterLastPortion > kEndWithinSeconds;
    return stoppedOnTime || endedLate;
}

bool AllPassed(const CheckResult (&results)[kCheckCount]) {
    for (const CheckResult& result : results) {
        if (result.verdict != Verdict::kPassed) {
            return false;
        }
    }
    return true;
}
