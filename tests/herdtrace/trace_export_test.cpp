// The trace-event file: it parses as strict JSON whatever the transcript
// held, and its tracks and events are the picture's lanes and states.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "json_check.h"
#include "made_traces.h"
#include "picture.h"
#include "trace_export.h"

namespace {

using namespace herdtrace_test;
using json_check::Value;

Value Parsed(const std::string& text) {
    Value value;
    std::size_t at = 0;
    EXPECT_TRUE(json_check::Parse(text, value, at))
        << "stops at " << at << ": " << text.substr(at > 40 ? at - 40 : 0, 80);
    return value;
}

const std::vector<Value>& Events(const Value& file) {
    static const std::vector<Value> none;
    const Value* events = file.Find("traceEvents");
    EXPECT_TRUE(events != nullptr && events->kind == Value::Kind::kArray);
    return events != nullptr ? events->items : none;
}

// The name a metadata event gives a pid (tid -1) or a thread.
std::string TrackName(const Value& file, double pid, double tid) {
    for (const Value& event : Events(file)) {
        const bool thread = event.Text("name") == "thread_name";
        if (event.Text("ph") == "M" && event.Number("pid") == pid &&
            (tid < 0 ? event.Text("name") == "process_name"
                     : thread && event.Number("tid") == tid)) {
            return event.Find("args")->Text("name");
        }
    }
    return "";
}

// Per process name, the milliseconds of its complete events by event name.
std::map<std::string, std::map<std::string, double>> Totals(const Value& file,
                                                            const char* category) {
    std::map<std::string, std::map<std::string, double>> totals;
    for (const Value& event : Events(file)) {
        if (event.Text("ph") == "X" && event.Text("cat") == category) {
            totals[TrackName(file, event.Number("pid"), -1)][event.Text("name")] +=
                event.Number("dur") / 1000;
        }
    }
    return totals;
}

// The picture's totals per lane, from the title each lane carries.
std::map<std::string, std::map<std::string, double>> PictureTotals(const std::string& svg) {
    const std::regex title(
        "<title>([^<]*): выполняется (\\d+) мс, готов (\\d+) мс, спит (\\d+) мс");
    std::map<std::string, std::map<std::string, double>> totals;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), title);
         it != std::sregex_iterator(); ++it) {
        totals[(*it)[1]] = {{"выполняется", std::stod((*it)[2])},
                            {"готов", std::stod((*it)[3])},
                            {"спит", std::stod((*it)[4])}};
    }
    return totals;
}

TEST(TraceFile, TracksAndStatesAreThePicturesInEverySource) {
    for (const Source source : {Source::kExact, Source::kSampled, Source::kSampledRunningOnly}) {
        SCOPED_TRACE(int(source));
        const Trace trace = MadeHerd(source);
        const Value file = Parsed(TraceEventJson(trace));
        const auto states = Totals(file, "состояние");
        const auto picture = PictureTotals(RenderSvg(trace));
        ASSERT_EQ(picture.size(), 4u);
        for (const auto& [lane, pictured] : picture) {
            ASSERT_TRUE(states.count(lane)) << lane;
            for (const auto& [state, milliseconds] : pictured) {
                const auto found = states.at(lane).find(state);
                const double exported = found == states.at(lane).end() ? 0 : found->second;
                EXPECT_NEAR(exported, milliseconds, 1) << lane << " " << state;
            }
        }
        EXPECT_EQ(Totals(file, "этап").size(), 4u);  // each lane's phases on a row of its own
        EXPECT_EQ(TrackName(file, 2, 1), "этапы");
        EXPECT_EQ(TrackName(file, 2, 2), "состояние");
    }
}

// Exact: the processor's row holds whoever held it, for as long as the
// schedule says; sampled: each class's share as a counter.
TEST(TraceFile, ProcessorTrackShowsItsHolders) {
    const Value exact = Parsed(TraceEventJson(MadeHerd(Source::kExact)));
    EXPECT_EQ(TrackName(exact, 1, -1), "процессоры");
    EXPECT_EQ(TrackName(exact, 1, 1), "процессор 0");
    const auto held = Totals(exact, "процессор").at("процессоры");
    EXPECT_NEAR(held.at("Слон 1 — высокий"), 3500, 1);
    EXPECT_NEAR(held.at("Слон 3 — низкий"), 2000, 1);

    const Value sampled = Parsed(TraceEventJson(MadeHerd(Source::kSampled)));
    std::size_t counters = 0;
    for (const Value& event : Events(sampled)) {
        if (event.Text("ph") == "C" && event.Text("name") == "процессор 0") {
            ++counters;
            EXPECT_GE(event.Find("args")->keys.size(), 3u);
        }
    }
    EXPECT_GE(counters, 3u);  // the holder changes at least from high to normal to idle
    EXPECT_EQ(sampled.Find("otherData")->Text("точнее"), "точно: sudo scripts/allow-priorities.sh");
}

// Names come from the transcript: quotes, backslashes, control characters
// and bytes that are not UTF-8 still give a file that parses, with the name
// as it was where it could be kept.
TEST(TraceFile, AnyNameGivesValidJson) {
    const struct {
        std::string name;
        std::string read;
    } rows[] = {
        {"Слон \"1\"", "Слон \"1\""},
        {"a\\b/c", "a\\b/c"},
        {"tab\tnew\nline\x01\x7f", "tab\tnew\nline\x01\x7f"},
        {"cut \xd0", "cut \xef\xbf\xbd"},
        {"lone \x80\xff", "lone \xef\xbf\xbd\xef\xbf\xbd"},
        {"surrogate \xed\xa0\x80", "surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"overlong \xc0\xaf", "overlong \xef\xbf\xbd\xef\xbf\xbd"},
        {"слон 🐘", "слон 🐘"},
    };
    for (const auto& row : rows) {
        Trace trace = MadeHerd(Source::kExact);
        trace.lanes[0].name = row.name;
        trace.lanes[0].priorityIndex = -1;
        const Value file = Parsed(TraceEventJson(trace));
        EXPECT_EQ(TrackName(file, 2, -1), row.read) << row.name;
    }
}

// A child with two busy threads: its overlapping spans go to two rows, and
// no row has overlapping events (a viewer would nest them).
TEST(TraceFile, ThreadsOfOneChildGetRowsOfTheirOwn) {
    Trace trace = MadeHerd(Source::kExact);
    Lane& lane = trace.lanes[0];
    lane.states = {{double(kStart), double(kStart + 100), ChildState::kRunning, 0},
                   {double(kStart + 100), double(kStart + 200), ChildState::kReady, -1},
                   {double(kStart + 50), double(kStart + 150), ChildState::kRunning, 1},
                   {double(kStart + 150), double(kStart + 300), ChildState::kAsleep, -1}};
    const Value file = Parsed(TraceEventJson(trace));
    EXPECT_EQ(TrackName(file, 2, 3), "состояние, поток 2");
    std::map<double, double> rowEnd;
    for (const Value& event : Events(file)) {
        if (event.Text("cat") == "состояние" && event.Number("pid") == 2) {
            const double tid = event.Number("tid");
            EXPECT_GE(event.Number("ts"), rowEnd[tid]) << tid;
            rowEnd[tid] = event.Number("ts") + event.Number("dur");
        }
    }
    EXPECT_EQ(rowEnd.size(), 2u);
}

}  // namespace
