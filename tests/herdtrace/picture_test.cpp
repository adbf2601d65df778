// The summary's correlation and the picture drawn from a trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "made_traces.h"
#include "picture.h"
#include "summary.h"
#include "tracer.h"
#include "transcript_reader.h"

namespace {

using namespace herdtrace;
using herdtrace_test::MadeHerd;
using herdtrace_test::Source;

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

// The part of the picture from `from` to the next `to`.
std::string Part(const std::string& svg, const std::string& from, const std::string& to) {
    const std::size_t start = svg.find(from);
    return start == std::string::npos ? "" : svg.substr(start, svg.find(to, start) - start);
}

// The last second the axis labels.
int LastAxisSecond(const std::string& svg) {
    const std::string axis = Part(svg, "<g id=\"time-axis\"", "</g>");
    const std::regex label(">(\\d+) с</text>");
    int last = -1;
    for (auto it = std::sregex_iterator(axis.begin(), axis.end(), label);
         it != std::sregex_iterator(); ++it) {
        last = std::max(last, std::stoi((*it)[1]));
    }
    return last;
}

// A herd of two whose launcher's final answer is typed 18 s after the
// deadline (the traced run ends then): the axis ends with the herd.
TEST(Picture, AxisEndsWithTheChildrenNotTheLastAnswer) {
    const std::string herd =
        "12:00:00.000 - Слон 1 поиск начал, приоритет - высокий\n"
        "12:00:00.100 - Слон 2 поиск начал, приоритет - низкий\n"
        "12:00:03.000 - Слон 1 нашел воду\n"
        "12:00:09.000 - Слон 1 напился\n"
        "12:00:25.000 - ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО\n"
        "12:00:25.001 - процесс 1 нормально завершился\n";
    const Millis noon = 12 * 3600 * 1000;
    TracedRun run;
    run.started = true;
    run.end = noon + 43000;
    const struct {
        std::string ending;
        int lastSecond;  // the axis's last label
    } rows[] = {
        {"12:00:25.001 - процесс 2 уничтожен.\n", 24},
        {"", 40},  // elephant 2's end is not in the transcript: all of the run stays
    };
    for (const auto& row : rows) {
        Trace trace = ReadTranscript(herd + row.ending);
        AttachSamples(trace, run);
        EXPECT_EQ(trace.end, noon + 43000);  // the model keeps the run's end
        EXPECT_EQ(LastAxisSecond(RenderSvg(trace)), row.lastSecond) << row.ending;
    }
    EXPECT_EQ(LastAxisSecond(RenderSvg(MadeHerd(Source::kExact))), 10);
}

// The picture says which source its states come from, shows the three
// states where they are known, and without states is drawn as before: no
// band, the lanes where they always were.
TEST(Picture, EachSourceSaysWhatItShows) {
    const struct {
        Source source;
        const char* says;  // the heading's line; "" none
        bool band;
        bool threeStates;  // the legend's ready and asleep
        bool hint;
    } rows[] = {
        {Source::kExact, "точно: каждое переключение процессора", true, true, false},
        {Source::kSampled, "по отсчётам каждые 10 мс", true, true, true},
        {Source::kSampledRunningOnly, "по отсчётам каждые 10 мс", true, false, true},
        {Source::kNone, "", false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says);
        Trace trace = MadeHerd(row.source);
        trace.lostRecords = row.source == Source::kExact ? 7 : 0;
        const std::string svg = RenderSvg(trace);
        const std::string heading = Part(svg, "id=\"state-source\"", "</text>");
        EXPECT_EQ(heading.empty(), *row.says == 0);
        EXPECT_TRUE(heading.find(row.says) != std::string::npos);
        EXPECT_EQ(svg.find("processor-band") != std::string::npos, row.band);
        EXPECT_EQ(svg.find(">готов (ждёт процессор)<") != std::string::npos, row.threeStates);
        EXPECT_EQ(svg.find(">спит (ждёт другого)<") != std::string::npos, row.threeStates);
        EXPECT_EQ(svg.find("не различить") != std::string::npos,
                  row.source == Source::kSampledRunningOnly);
        EXPECT_EQ(svg.find("allow-priorities") != std::string::npos, row.hint);
        EXPECT_EQ(svg.find("потеряно записей: 7") != std::string::npos,
                  row.source == Source::kExact);
        if (!row.band) {  // the first lane's label where it always stood
            EXPECT_NE(
                svg.find("<text x=\"8.00\" y=\"91.00\" font-size=\"12\" fill=\"#111\">Слон 1"),
                std::string::npos);
            EXPECT_EQ(svg.find("<title>Слон"), std::string::npos);
        }
    }
}

// The left and right ends of the band's area in one class's colour.
std::pair<double, double> Extent(const std::string& band, const char* colour) {
    std::smatch match;
    std::regex_search(band, match,
                      std::regex(std::string("<path d=\"([^\"]*)\" fill=\"") + colour));
    const std::string path = match[1];
    const std::regex number("[MH]([0-9.]+)");
    std::pair<double, double> extent{1e9, -1};
    for (auto it = std::sregex_iterator(path.begin(), path.end(), number);
         it != std::sregex_iterator(); ++it) {
        extent.first = std::min(extent.first, std::stod((*it)[1]));
        extent.second = std::max(extent.second, std::stod((*it)[1]));
    }
    return extent;
}

// The band shows the lesson: the high class first, then normal, then idle
// until the deadline, from either source; the lanes' totals are the
// schedule's.
TEST(Picture, BandShowsTheSuccessionOfClassesAndLanesTheirStates) {
    for (const Source source : {Source::kExact, Source::kSampled}) {
        const std::string svg = RenderSvg(MadeHerd(source));
        const std::string band = Part(svg, "id=\"processor-bands\"", "class=\"lane\"");
        const auto high = Extent(band, ClassColour(4));
        const auto normal = Extent(band, ClassColour(2));
        const auto idle = Extent(band, ClassColour(0));
        std::smatch x;
        const std::string line = Part(svg, "<g id=\"deadline\">", "</g>");
        ASSERT_TRUE(std::regex_search(line, x, std::regex("x1=\"([0-9.]+)\"")));
        const double deadline = std::stod(x[1]);
        EXPECT_NEAR(high.first, 250, 0.1);
        EXPECT_NEAR(high.second, normal.first, 2.01);  // one column may hold both
        EXPECT_NEAR(normal.second, idle.first, 2.01);
        EXPECT_NEAR(idle.second, deadline, 2.01);
        for (const char* total :
             {"Слон 1 — высокий: выполняется 3500 мс, готов 1500 мс, спит 0 мс",
              "Слон 3 — низкий: выполняется 2000 мс, готов 8000 мс, спит 0 мс",
              "Слон 4 — высокий: выполняется 1500 мс, готов 1500 мс, спит 1000 мс"}) {
            EXPECT_NE(svg.find(total), std::string::npos) << total;
        }
    }
}

TEST(Summary, ReadyTimesSwitchesClassSharesAndTheSource) {
    const std::string exact = Summary(MadeHerd(Source::kExact));
    EXPECT_NE(exact.find("состояния — точно: каждое переключение процессора"), std::string::npos);
    EXPECT_NE(exact.find("Слон 3       низкий            процессор   2000 мс  готов   8000 мс  "
                         "переключений     1  завершён"),
              std::string::npos)
        << exact;
    EXPECT_NE(exact.find("по классам: высокий 50 %, нормальный 30 %, низкий 20 %."),
              std::string::npos);
    const std::string sampled = Summary(MadeHerd(Source::kSampled));
    EXPECT_NE(sampled.find("готов   5000 мс  закончил"), std::string::npos) << sampled;
    EXPECT_NE(sampled.find("  точно: sudo scripts/allow-priorities.sh\n"), std::string::npos);
    // Running only, or a transcript alone: no ready column, no source line.
    EXPECT_EQ(Summary(MadeHerd(Source::kSampledRunningOnly)).find("готов"), std::string::npos);
    const std::string none = Summary(MadeHerd(Source::kNone));
    EXPECT_EQ(none.find("состояния"), std::string::npos);
    EXPECT_EQ(none.find("по классам"), std::string::npos);
    EXPECT_NE(none.find("  Слон 1       высокий           закончил сам на 5,0 с\n"),
              std::string::npos);
}

}  // namespace
