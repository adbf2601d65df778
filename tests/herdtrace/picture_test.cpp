// The summary's correlation and the picture drawn from a trace.
#include <gtest/gtest.h>

#include <string>

#include "picture.h"
#include "summary.h"
#include "transcript_reader.h"

namespace {

using namespace herdtrace;

TEST(Spearman, RanksWithTiesAndUndefinedCases) {
    double rho = 0;
    ASSERT_TRUE(SpearmanCorrelation({0, 1, 2, 3}, {40, 30, 20, 10}, rho));
    EXPECT_DOUBLE_EQ(rho, -1.0);
    // Monotonic, not linear: still a perfect rank correlation.
    ASSERT_TRUE(SpearmanCorrelation({1, 2, 3, 4}, {1, 10, 100, 1000}, rho));
    EXPECT_DOUBLE_EQ(rho, 1.0);
    // Ties share their mean rank: classes 4 4 0 0 against finishes 1 2 3 4.
    ASSERT_TRUE(SpearmanCorrelation({4, 4, 0, 0}, {1, 2, 3, 4}, rho));
    EXPECT_NEAR(rho, -0.894427, 1e-6);
    EXPECT_FALSE(SpearmanCorrelation({1, 2}, {2, 1}, rho));        // too few
    EXPECT_FALSE(SpearmanCorrelation({2, 2, 2}, {1, 2, 3}, rho));  // one class only
    EXPECT_FALSE(SpearmanCorrelation({1, 2, 3}, {1, 2}, rho));
}

Lane MakeLane(const std::string& name, int priority, Millis start, Millis end, Ending ending) {
    Lane lane;
    lane.name = name;
    lane.key = name;
    lane.priorityIndex = priority;
    lane.firstLine = start;
    lane.phases.push_back(Phase{PhaseKind::kSearching, start, end});
    lane.ending = ending;
    lane.endedAt = end;
    return lane;
}

Trace SmallHerd() {
    Trace trace;
    trace.kind = LauncherKind::kHerd;
    trace.lanes.push_back(MakeLane("Слон 1", 4, 0, 3000, Ending::kFinished));
    trace.lanes.push_back(MakeLane("Слон 2", 2, 0, 9000, Ending::kFinished));
    trace.lanes.push_back(MakeLane("Слон <&3>", 0, 0, 25000, Ending::kEnded));
    trace.lanes[0].cpu.push_back(CpuSample{0, 10, 1.0});
    trace.lanes[0].cpuMilliseconds = 2950;
    trace.start = 0;
    trace.end = 25000;
    trace.deadline = 25000;
    trace.deadlineLabel = "25 с";
    return trace;
}

TEST(Summary, EveryChildWithClassTimesAndTheHerdsCorrelation) {
    const std::string summary = Summary(SmallHerd());
    EXPECT_NE(summary.find("Слон 1       высокий"), std::string::npos) << summary;
    EXPECT_NE(summary.find("процессор   2950 мс"), std::string::npos) << summary;
    EXPECT_NE(summary.find("закончил сам на 3,0 с"), std::string::npos);
    EXPECT_NE(summary.find("завершён запускающим на 25,0 с"), std::string::npos);
    EXPECT_NE(summary.find("Спирмен) класса и времени окончания: -1,00."), std::string::npos);
    EXPECT_NE(summary.find("Чем выше класс приоритета"), std::string::npos);
}

TEST(Picture, LanesWithClassLabelsDeadlineAndEscapedNames) {
    const std::string svg = RenderSvg(SmallHerd());
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find(">Слон 1 — высокий</text>"), std::string::npos);
    EXPECT_NE(svg.find(">Слон 2 — нормальный</text>"), std::string::npos);
    EXPECT_NE(svg.find(">Слон &lt;&amp;3&gt; — низкий</text>"), std::string::npos);
    EXPECT_EQ(svg.find("<&3>"), std::string::npos);
    EXPECT_NE(svg.find("<g id=\"deadline\">"), std::string::npos);
    EXPECT_NE(svg.find("срок 25 с"), std::string::npos);
    EXPECT_NE(svg.find("<path d=\"M"), std::string::npos);  // the processor share
    EXPECT_EQ(svg.find("<script"), std::string::npos);

    // An empty transcript still gives a picture, saying there is nothing.
    const std::string empty = RenderSvg(ReadTranscript(""));
    EXPECT_NE(empty.find("нет строк"), std::string::npos);
    EXPECT_EQ(empty.find("deadline"), std::string::npos);
}

}  // namespace
