// herdcheck's portable parts: watching a ring that the test plays the child
// on, judging runs, the teacher's points file, and the JSON, JUnit and
// Gradescope texts.
#include <string>

#include <gtest/gtest.h>

#include "cp1251_unit.h"
#include "feeder_herds_unit.h"
#include "points_unit.h"
#include "report_unit.h"
#include "ring_watch_unit.h"
#include "verdict_unit.h"

namespace {

const ElephantRecord& kTandy = kNamedElephantsBuild.herd[0];  // weight 1.7: ration 15

struct Feeding {
    unsigned char ring[kRingSlots] = {};
    FeedingPlan plan;
    RingWatch watch;
    DWORD now = 1000;

    explicit Feeding(std::int32_t supply, std::span<const std::int32_t> pauses = {}) {
        plan.supply = supply;
        plan.pauses = pauses;
        watch = NewRingWatch(plan, now);
    }
    WatchEvents Look(DWORD after = 1) {
        now += after;
        return WatchRing(ring, watch, plan, now);
    }
};

std::string Slots(const unsigned char (&ring)[kRingSlots]) {
    std::string text;
    for (unsigned char value : ring) {
        text += static_cast<char>('0' + value);
    }
    return text;
}

TEST(RingWatch, FeedsInRingOrderAndNeverBeyondTheSupply) {
    Feeding feeding(10);
    feeding.Look();
    EXPECT_EQ(Slots(feeding.ring), "11111111");
    for (int slot : {0, 1, 2}) {
        feeding.ring[slot] = 0;
    }
    feeding.Look();
    EXPECT_EQ(feeding.watch.eaten, 3);
    EXPECT_EQ(feeding.watch.placed, 10);  // slots 0 and 1 refilled, slot 2 not: supply reached
    EXPECT_EQ(Slots(feeding.ring), "11011111");
    EXPECT_EQ(feeding.watch.orderFault.slot, -1);
    EXPECT_EQ(feeding.watch.wrongWrite.slot, -1);
}

TEST(RingWatch, ATakeOutOfOrderIsRecordedOnce) {
    Feeding feeding(20);
    feeding.Look();
    feeding.ring[1] = 0;  // slot 0 was first
    feeding.Look();
    EXPECT_EQ(feeding.watch.orderFault.slot, 1);
    EXPECT_EQ(feeding.watch.orderFault.expected, 0);
    feeding.ring[3] = 0;
    feeding.Look();
    EXPECT_EQ(feeding.watch.orderFault.slot, 1);
    EXPECT_EQ(feeding.watch.eaten, 2);
}

TEST(RingWatch, ForeignValuesAreRecordedUndoneAndFeedingGoesOn) {
    Feeding feeding(20);
    feeding.Look();
    feeding.ring[0] = 2;  // took the portion, wrote 2
    feeding.Look();
    EXPECT_EQ(feeding.watch.wrongWrite.slot, 0);
    EXPECT_EQ(feeding.watch.wrongWrite.value, 2);
    EXPECT_FALSE(feeding.watch.wrongWrite.intoEmpty);
    EXPECT_EQ(feeding.watch.eaten, 1);
    EXPECT_EQ(feeding.ring[0], kFullSlot);        // undone, then fed again
    EXPECT_EQ(feeding.watch.foreignPortion, -1);  // a child's wrong value, no feeder's portion

    Feeding empty(1);
    empty.Look();
    empty.ring[0] = 0;
    empty.Look();
    empty.ring[5] = 1;  // a portion nobody placed
    empty.Look();
    EXPECT_EQ(empty.watch.wrongWrite.slot, 5);
    EXPECT_TRUE(empty.watch.wrongWrite.intoEmpty);
    EXPECT_EQ(empty.ring[5], kEmptySlot);
    EXPECT_EQ(empty.watch.eaten, 1);
    EXPECT_EQ(empty.watch.foreignPortion, 5);  // another feeder's portion, or the child's
    empty.ring[2] = 1;
    empty.Look();
    EXPECT_EQ(empty.watch.foreignPortion, 5);  // the first one
}

TEST(RingWatch, TheSlowFeederPausesAndTheEmptyRingCountsAsWaiting) {
    static constexpr std::int32_t kPauses[] = {100, 500};
    Feeding feeding(5, kPauses);
    feeding.Look();
    EXPECT_EQ(feeding.watch.placed, 0);  // the first pause
    feeding.Look(100);
    EXPECT_EQ(Slots(feeding.ring), "10000000");
    feeding.ring[0] = 0;
    EXPECT_TRUE(feeding.Look().hungerBegan);
    EXPECT_FALSE(feeding.Look(200).hungerEnded);
    EXPECT_TRUE(feeding.Look(300).hungerEnded);  // the next portion came
    EXPECT_EQ(Slots(feeding.ring), "01111000");  // and the rest with no pause
}

RunOutcome FedRun(std::int32_t eaten) {
    RunOutcome run;
    run.end = RunEnd::kExited;
    run.eaten = eaten;
    run.supply = RationOf(kTandy.weight) + kExtraPortions;
    run.secondsAfterLastPortion = 0.05;
    run.waitingSeconds = 3.0;
    run.waitingCpuSeconds = 0.01;
    return run;
}

// The checks that did not pass, as "F" (failed) or "-" (not judged) per check.
std::string Judged(const RunOutcome& steady, const RunOutcome& slow) {
    CheckResult results[kCheckCount];
    JudgeChild(kTandy, steady, slow, results);
    std::string marks;
    for (const CheckResult& result : results) {
        marks += result.verdict == Verdict::kPassed   ? '+'
                 : result.verdict == Verdict::kFailed ? 'F'
                                                      : '-';
    }
    return marks;
}

TEST(Verdict, EachFaultFailsItsOwnCheck) {
    const RunOutcome good = FedRun(15);
    EXPECT_EQ(Judged(good, good), "++++++++");

    RunOutcome overate = FedRun(16);
    EXPECT_EQ(Judged(overate, overate), "+++F++++");

    RunOutcome misread = FedRun(5);  // 1,70 read as 1
    EXPECT_EQ(Judged(misread, misread), "F+++++++");

    RunOutcome crashed;
    crashed.end = RunEnd::kCrashed;
    crashed.crashName = "SIGABRT";
    EXPECT_EQ(Judged(crashed, crashed), "----F-++");

    RunOutcome spinning = FedRun(15);
    spinning.waitingCpuSeconds = 2.9;
    EXPECT_EQ(Judged(good, spinning), "+++++F++");

    RunOutcome late = FedRun(15);
    late.secondsAfterLastPortion = 2.5;
    EXPECT_EQ(Judged(good, late), "++++++F+");  // only when the feeder is slow
    EXPECT_EQ(Judged(late, late), "++++F+++");

    RunOutcome missing;
    missing.startError = 2;
    EXPECT_EQ(Judged(missing, missing), "F-------");

    RunOutcome leaving = FedRun(15);
    leaving.harms.leftBehind = 3;
    EXPECT_EQ(Judged(good, leaving), "+++++++F");
}

TEST(Verdict, OnlyFailuresOnTimeAreCheckedAgain) {
    RunOutcome hung = FedRun(15);
    hung.end = RunEnd::kStopped;
    hung.stopReason = StopReason::kQuiet;
    RunOutcome late = FedRun(15);
    late.secondsAfterLastPortion = 2.5;
    RunOutcome overLimit = hung;
    overLimit.stopReason = StopReason::kOverLimit;
    RunOutcome crashed;
    crashed.end = RunEnd::kCrashed;
    const struct {
        RunOutcome run;
        bool again;
    } kRows[] = {
        {FedRun(15), false}, {hung, true}, {late, true}, {overLimit, false}, {crashed, false}};
    for (const auto& row : kRows) {
        EXPECT_EQ(FailedOnTime(row.run), row.again) << static_cast<int>(row.run.stopReason);
    }
}

TEST(Verdict, DetailsSayWhatWasSeen) {
    CheckResult results[kCheckCount];
    RunOutcome overate = FedRun(47);
    RunOutcome spinning = FedRun(15);
    spinning.waitingCpuSeconds = 2.94;
    JudgeChild(kTandy, overate, spinning, results);
    EXPECT_EQ(results[static_cast<int>(Check::kExactRation)].detail, "съел 47 порций из 15"_cp1251);
    EXPECT_EQ(results[static_cast<int>(Check::kWaitsPolitely)].detail,
              "занимал 98 % процессора в ожидании"_cp1251);

    RunOutcome hung = FedRun(15);
    hung.end = RunEnd::kStopped;
    hung.stopReason = StopReason::kQuiet;
    hung.quietSeconds = 3.0;
    JudgeChild(kTandy, hung, hung, results);
    EXPECT_EQ(results[static_cast<int>(Check::kEndsWhenFed)].detail,
              "не завершился за 3.00 с после последней порции, остановлен проверкой"_cp1251);

    RunOutcome disorderly = FedRun(15);
    disorderly.orderFault = {1, 0};
    disorderly.wrongWrite = {5, 1, true};
    JudgeChild(kTandy, disorderly, disorderly, results);
    EXPECT_EQ(results[static_cast<int>(Check::kRingOrder)].detail,
              "взял порцию из слота 1, а по порядку был слот 0"_cp1251);
    EXPECT_EQ(results[static_cast<int>(Check::kTakesOnlyPlaced)].detail,
              "слот 5: записано значение 1 в пустой слот"_cp1251);

    RunOutcome harmful = FedRun(15);
    harmful.harms.processLimitReached = true;
    harmful.harms.networkTried = "AF_INET";
    JudgeChild(kTandy, harmful, harmful, results);
    EXPECT_EQ(results[static_cast<int>(Check::kStaysContained)].detail,
              "запустил больше 32 процессов; пытался выйти в сеть (AF_INET)"_cp1251);

    RunOutcome gaveUp = FedRun(0);
    gaveUp.exitCode = 1;
    JudgeChild(kTandy, gaveUp, gaveUp, results);
    EXPECT_EQ(results[static_cast<int>(Check::kFindsBlock)].detail,
              "не взял ни одной порции: завершился с кодом 1"_cp1251);
}

TEST(Report, JsonAndJunitAreUtf8WithEscapedTextAndOneChildPerLine) {
    ChildReport report;
    report.program = "C:\\курс\\\"tusker6\".exe"_cp1251;
    report.commandLine = "tusker6 Tandy 3 1.70";
    report.results[0] = {Verdict::kFailed, std::string("слот 3: записано значение 2"_cp1251)};
    const std::string json = JsonReport(6, {report, report}, CheckPoints{});
    EXPECT_NE(json.find("\"program\": \"C:\\\\курс\\\\\\\"tusker6\\\".exe\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"finds_block\": {\"result\": \"failed\", \"detail\": \"слот 3: "
                        "записано значение 2\"}"),
              std::string::npos);
    EXPECT_NE(json.find("\"passed\": false"), std::string::npos);
    const std::size_t first = json.find("{\"program\"");
    EXPECT_NE(json.find('\n', first), std::string::npos);
    EXPECT_LT(json.find('\n', first), json.find("{\"program\"", first + 1));

    const std::string junit = JunitReport(6, {report}, CheckPoints{});
    EXPECT_NE(junit.find("<testsuite name=\"C:\\курс\\&quot;tusker6&quot;.exe\" tests=\"8\" "
                         "failures=\"1\" errors=\"0\" skipped=\"7\">"),
              std::string::npos)
        << junit;
    EXPECT_NE(junit.find("<failure message=\"слот 3: записано значение 2\"/>"), std::string::npos);

    const std::vector<std::string> table = TableLines({report});
    ASSERT_EQ(table.size(), 2u);
    EXPECT_NE(table[1].find("не сдано"_cp1251), std::string::npos);
}

TEST(Points, AFileGivesTheChecksItNamesTheirPointsAndTheOthersOne) {
    const std::string text =
        "\xEF\xBB\xBF# баллы\r\n"
        "waits_politely 2\r\n"
        "\n"
        "  survives_slow_feeder\t0,5  \n"
        "stays_contained 0.05\n"
        "finds_block 1000";
    CheckPoints points;
    EXPECT_EQ(ReadCheckPoints(text, points), "");
    const int expected[kCheckCount] = {100000, 100, 100, 100, 100, 200, 50, 5};
    for (int check = 0; check < kCheckCount; ++check) {
        EXPECT_EQ(points.hundredths[check], expected[check]) << check;
    }
    EXPECT_EQ(MostHundredths(points), 100655);
    const struct {
        int hundredths;
        const char* number;
    } kNumbers[] = {{100, "1"},    {50, "0.5"}, {5, "0.05"},
                    {125, "1.25"}, {0, "0"},    {100000, "1000"}};
    for (const auto& row : kNumbers) {
        EXPECT_EQ(PointsNumber(row.hundredths), row.number);
    }
}

TEST(Points, AWrongFileNamesTheLineAndWhatIsWrong) {
    const struct {
        const char* text;
        std::string_view error;
    } kRows[] = {
        {"# ok\nwait 2", "строка 2: неизвестная проверка «wait»"_cp1251},
        // A key that would move a terminal's cursor is shown harmless and cut.
        {"\x1B[2J\x1B]0;x\x07"
         "abcdefghijklmnopqrstuvwxyzABCDEFG 1",
         "строка 1: неизвестная проверка «?[2J?]0;x?abcdefghijklmnopqrstuv...»"_cp1251},
        {"ring_order 1\nring_order 2", "строка 2: проверка «ring_order» названа второй раз"_cp1251},
        {"ring_order",
         "строка 1: после «ring_order» нужно число баллов от 0 до 1000, например 2 "
         "или 0.5"_cp1251},
    };
    for (const auto& row : kRows) {
        CheckPoints points;
        EXPECT_EQ(ReadCheckPoints(row.text, points), row.error) << row.text;
    }
    for (const char* number : {"-1", "1.", "0.125", "1001", "2x", "1 2", ".5"}) {
        CheckPoints points;
        EXPECT_NE(ReadCheckPoints(std::string("ring_order ") + number, points), "") << number;
    }
}

TEST(Report, EveryResultFileGivesTheSamePoints) {
    ChildReport report;
    report.program = "ivanov";
    for (CheckResult& result : report.results) {
        result.verdict = Verdict::kPassed;
    }
    report.results[static_cast<int>(Check::kWaitsPolitely)] = {
        Verdict::kFailed, std::string("занимал 98 % процессора в ожидании"_cp1251)};
    report.results[static_cast<int>(Check::kSurvivesSlowFeeder)] = {Verdict::kNotJudged, {}};
    CheckPoints points;
    ASSERT_EQ(ReadCheckPoints("waits_politely 2\nfinds_block 1.5", points), "");

    const std::string gradescope = GradescopeReport({report}, points);
    EXPECT_TRUE(gradescope.starts_with("{\n  \"score\": 6.5,\n  \"output\": \"программа "))
        << gradescope;
    EXPECT_NE(
        gradescope.find("{\"name\": \"ivanov: находит свой блок\", \"score\": 1.5, "
                        "\"max_score\": 1.5, \"status\": \"passed\", \"output\": \"пройдена\"}"),
        std::string::npos);
    EXPECT_NE(
        gradescope.find("{\"name\": \"ivanov: ждёт, не занимая процессор\", \"score\": 0, "
                        "\"max_score\": 2, \"status\": \"failed\", \"output\": \"НЕ ПРОЙДЕНА — "
                        "занимал 98 % процессора в ожидании\"}"),
        std::string::npos);
    EXPECT_NE(
        gradescope.find("\"max_score\": 1, \"status\": \"failed\", \"output\": \"не проверена\""),
        std::string::npos);

    const std::string json = JsonReport(6, {report}, points);
    EXPECT_NE(json.find("\"passed\": false, \"score\": 6.5, \"maxScore\": 9.5"), std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"key\": \"waits_politely\", \"title\": \"ждёт, не занимая процессор\", "
                        "\"points\": 2}"),
              std::string::npos);

    const std::string junit = JunitReport(6, {report}, points);
    EXPECT_NE(junit.find("<property name=\"score\" value=\"6.5\"/><property name=\"max_score\" "
                         "value=\"9.5\"/>"),
              std::string::npos)
        << junit;
    EXPECT_NE(junit.find("name=\"finds_block\">\n      <properties><property name=\"score\" "
                         "value=\"1.5\"/><property name=\"max_score\" value=\"1.5\"/>"),
              std::string::npos);
}

}  // namespace
