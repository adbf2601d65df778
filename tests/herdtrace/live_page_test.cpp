// The live page's portable part: the run so far as a trace, what the page
// says around the picture, and the frame script that carries the programs'
// text into the page as text.
#include "live_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace herdtrace;

constexpr Millis kNoon = 12 * 3600 * 1000;

TracedRun RunWithOutput(const std::string& output) {
    TracedRun run;
    run.started = true;
    run.start = kNoon;
    run.output = output;
    return run;
}

const std::string kTwoElephants =
    "12:00:00.000 - Слон 2 поиск начал, приоритет - высокий\n"
    "12:00:00.500 - Слон 1 поиск начал, приоритет - низкий\n"
    "12:00:02.000 - Слон 2 нашел воду\n";

TEST(ScriptString, NothingInTheTextCanEndTheLiteralOrTheScript) {
    struct Row {
        std::string text;
        std::string literal;
    };
    const Row rows[] = {
        {"plain 25 c", "\"plain 25 c\""},
        {"\"\\", "\"\\u0022\\u005c\""},
        {"</script>", "\"\\u003c/script\\u003e\""},
        {"a&b", "\"a\\u0026b\""},
        {"line\nnext\r\t", "\"line\\u000anext\\u000d\\u0009\""},
        {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u2028\\u2029\""},  // line separators end a JS line
        {"Слон", "\"\\u0421\\u043b\\u043e\\u043d\""},
        {"\xF0\x9F\x90\x98", "\"\\ud83d\\udc18\""},  // beyond the BMP: a surrogate pair
        {"\xFF"
         "a\xD0",
         "\"\\ufffda\\ufffd\""},  // malformed and cut sequences
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ScriptString(row.text), row.literal) << row.text;
    }
}

TEST(LivePage, SitsBesideThePicture) {
    const struct {
        const char* picture;
        const char* page;
        const char* frame;
    } rows[] = {
        {"herdtrace.svg", "herdtrace.html", "herdtrace.frame.js"},
        {"/tmp/a.b/herd.svg", "/tmp/a.b/herd.html", "/tmp/a.b/herd.frame.js"},
        {"picture", "picture.html", "picture.frame.js"},
    };
    for (const auto& row : rows) {
        const LivePage page = OpenLivePage(row.picture);
        EXPECT_EQ(page.path, row.page);
        EXPECT_EQ(page.framePath, row.frame);
    }
}

TEST(TraceSoFar, OpenPhasesEndNowAndTheHerdsDeadlineIsAhead) {
    const Millis now = kNoon + 5000;
    const Trace trace = TraceSoFar(RunWithOutput(kTwoElephants), now);
    ASSERT_EQ(trace.lanes.size(), 2u);
    EXPECT_EQ(trace.lanes[0].name, "Слон 1");  // the launcher's order
    for (const Lane& lane : trace.lanes) {
        EXPECT_EQ(lane.phases.back().end, now) << lane.name;
    }
    EXPECT_EQ(trace.deadline, kNoon + 25000);
    EXPECT_EQ(trace.deadlineLabel, "25 с");
    EXPECT_EQ(trace.end, trace.deadline);  // the axis reaches the deadline
}

TEST(TraceSoFar, TheDeadlineTheLauncherAnnouncedStands) {
    const Trace herd = TraceSoFar(
        RunWithOutput(kTwoElephants + "12:00:25.300 - ВРЕМЯ ОЖИДАНИЯ ИСТЕКЛО\n"), kNoon + 26000);
    EXPECT_EQ(herd.deadline, kNoon + 25300);
    EXPECT_EQ(herd.end, kNoon + 26000);
    // A run that has shown no child yet has nothing to expect.
    EXPECT_EQ(TraceSoFar(RunWithOutput("12:00:00.000 - Начало работы\n"), kNoon).deadline, kNoTime);
}

TEST(LiveFrame, SaysWhereTheRunStands) {
    const Trace running = TraceSoFar(RunWithOutput(kTwoElephants), kNoon + 12400);
    const Trace late = TraceSoFar(RunWithOutput(kTwoElephants), kNoon + 27000);
    const struct {
        LiveFrame frame;
        const char* status;
    } rows[] = {
        {MakeFrame(running, kNoon + 12400, false), "Прошло 12 с из 25 с."},
        {MakeFrame(late, kNoon + 27000, false), "Прошло 27 с; срок 25 с истёк."},
        {MakeFrame(running, kNoon, true), "Запуск окончен (25 с)"},
        {MakeFrame(TraceSoFar(RunWithOutput(""), kNoon), kNoon, false), "Ждём первых строк"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.frame.status.rfind(row.status, 0), 0u) << row.frame.status;
        EXPECT_EQ(row.frame.svg.rfind("<svg", 0), 0u);  // inline: no XML declaration
        EXPECT_EQ(row.frame.summary.empty(), !row.frame.ended);
    }
    EXPECT_NE(rows[0].frame.lesson.find("старший класс"), std::string::npos);
    EXPECT_EQ(rows[0].frame.newestLine, kNoon + 2000);
}

// A child whose name is markup: the page holds it as text, the frame
// script holds no '<' at all, and the page's one script is its own.
TEST(LiveFrame, AChildsMarkupIsTextInThePageAndTheFrame) {
    const std::string hostile = "<script>alert(1)</script>&\"x";
    const Trace trace = TraceSoFar(
        RunWithOutput("12:00:00.000 - Слон " + hostile + " поиск начал, приоритет - высокий\n"),
        kNoon + 1000);
    ASSERT_EQ(trace.lanes.size(), 1u);
    LiveFrame frame = MakeFrame(trace, kNoon + 1000, true);
    frame.number = 7;
    const std::string page = PageHtml(frame, "run.frame.js");
    const std::string script = FrameScript(frame);
    EXPECT_NE(page.find("Слон &lt;script&gt;alert(1)&lt;/script&gt;&amp;&quot;x"),
              std::string::npos);
    EXPECT_EQ(page.find("alert(1)</script>"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), page.rfind("<script>"));
    EXPECT_EQ(script.find('<'), std::string::npos);
    EXPECT_EQ(script.rfind("herdtraceFrame({\"number\": 7, \"ended\": true", 0), 0u);
    EXPECT_EQ(page.find("http-equiv=\"refresh\""), std::string::npos);  // ended: stays
    frame.ended = false;
    EXPECT_NE(PageHtml(frame, "run.frame.js").find("http-equiv=\"refresh\""), std::string::npos);
}

}  // namespace
