// Writing the trace-event file. Children are processes of the file (pid
// 2, 3, ...) in the order of the picture's lanes, the processors are the
// threads of pid 1. Sampled runs have no slices of their own to show on a
// processor, so there the processors carry counters: each class's share.
#include "trace_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "herdlab_toolkit.h"
#include "lane_states.h"
#include "tracer.h"

namespace herdtrace {

namespace {

constexpr int kProcessorsPid = 1;
constexpr int kPhasesTid = 1;
constexpr int kFirstStatesTid = 2;

// The events, each one JSON object, and the clock they count from.
struct EventList {
    double origin;  // ms on the trace's clock: ts 0
    std::vector<std::string> events;

    long long Micros(double millis) const { return std::llround((millis - origin) * 1000); }
};

std::string Head(const std::string& name, const char* phase, int pid, int tid) {
    return "{\"name\":" + JsonString(name) + ",\"ph\":\"" + phase +
           "\",\"pid\":" + std::to_string(pid) + ",\"tid\":" + std::to_string(tid);
}

// Metadata events: a track's name ("process_name", "thread_name"), and a
// process's place among the others, so the viewer keeps the picture's order.
void Meta(EventList& list, const char* what, int pid, int tid, const std::string& name) {
    list.events.push_back(Head(what, "M", pid, tid) + ",\"args\":{\"name\":" + JsonString(name) +
                          "}}");
}

void SortIndex(EventList& list, int pid, int index) {
    list.events.push_back(Head("process_sort_index", "M", pid, 0) +
                          ",\"args\":{\"sort_index\":" + std::to_string(index) + "}}");
}

// A complete event; times rounded each on its own, so that neighbours never
// overlap.
void Complete(EventList& list, const std::string& name, const char* category, int pid, int tid,
              double start, double end, const std::string& args = "") {
    const long long from = list.Micros(start);
    const long long to = std::max(list.Micros(end), from);
    list.events.push_back(Head(name, "X", pid, tid) + ",\"cat\":\"" + category + "\",\"ts\":" +
                          std::to_string(from) + ",\"dur\":" + std::to_string(to - from) +
                          (args.empty() ? "" : ",\"args\":{" + args + "}") + "}");
}

void Instant(EventList& list, const std::string& name, int pid, int tid, double at,
             const char* scope) {
    list.events.push_back(Head(name, "i", pid, tid) + ",\"s\":\"" + scope +
                          "\",\"ts\":" + std::to_string(list.Micros(at)) + "}");
}

std::string ClassArgument(const Lane& lane) {
    return lane.priorityIndex < 0
               ? std::string()
               : "\"класс\":" +
                     JsonString(std::string(herdlab_toolkit::ClassWord(lane.priorityIndex)));
}

// The earliest time of the run's data: the file starts there, so no event
// lies before 0 (readings begin before the first line).
double Origin(const Trace& trace) {
    double origin = trace.start == kNoTime ? 0 : double(trace.start);
    for (const Lane& lane : trace.lanes) {
        for (const StateSpan& span : LaneStateSpans(lane, trace.stateSource)) {
            origin = std::min(origin, span.start);
        }
    }
    for (const ProcessorSlice& slice : trace.processorSlices) {
        origin = std::min(origin, slice.start);
    }
    return origin;
}

// Spans that overlap (the threads of one child) go to rows of their own,
// each span to the first row free at its start.
std::vector<std::vector<StateSpan>> StateRows(std::vector<StateSpan> spans) {
    std::stable_sort(spans.begin(), spans.end(),
                     [](const StateSpan& a, const StateSpan& b) { return a.start < b.start; });
    std::vector<std::vector<StateSpan>> rows;
    for (const StateSpan& span : spans) {
        auto row = std::find_if(rows.begin(), rows.end(), [&](const std::vector<StateSpan>& r) {
            return r.back().end <= span.start + 1e-6;
        });
        if (row == rows.end()) {
            rows.emplace_back();
            row = rows.end() - 1;
        }
        row->push_back(span);
    }
    return rows;
}

void ChildStates(EventList& list, const Trace& trace, const Lane& lane, int pid) {
    const auto rows = StateRows(LaneStateSpans(lane, trace.stateSource));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const int tid = kFirstStatesTid + int(r);
        Meta(list, "thread_name", pid, tid,
             r == 0 ? "состояние" : "состояние, поток " + std::to_string(r + 1));
        for (const StateSpan& span : rows[r]) {
            const std::string args = span.state == ChildState::kRunning && span.processor >= 0
                                         ? "\"процессор\":" + std::to_string(span.processor)
                                         : "";
            Complete(list, StateWord(span.state), "состояние", pid, tid, span.start, span.end,
                     args);
        }
    }
}

// A child's track: its name, its phases, its end, its states.
void Child(EventList& list, const Trace& trace, std::size_t index) {
    const Lane& lane = trace.lanes[index];
    const int pid = int(index) + 2;
    Meta(list, "process_name", pid, 0, LaneLabel(lane));
    SortIndex(list, pid, pid);
    Meta(list, "thread_name", pid, kPhasesTid, "этапы");
    const double end = double(lane.endedAt != kNoTime ? lane.endedAt : trace.end);
    for (const Phase& phase : lane.phases) {
        Complete(list, PhaseWord(phase.kind), "этап", pid, kPhasesTid, double(phase.start),
                 phase.end == kNoTime ? end : double(phase.end), ClassArgument(lane));
    }
    if (lane.endedAt != kNoTime) {
        Instant(list, lane.ending == Ending::kFinished ? "закончил сам" : "завершён запускающим",
                pid, kPhasesTid, double(lane.endedAt), "t");
    }
    ChildStates(list, trace, lane, pid);
}

// Exact: each slice on its processor's row, named as the lane that held it.
void ExactProcessors(EventList& list, const Trace& trace) {
    for (const ProcessorSlice& slice : trace.processorSlices) {
        if (slice.lane < trace.lanes.size()) {
            const Lane& lane = trace.lanes[slice.lane];
            Complete(list, LaneLabel(lane), "процессор", kProcessorsPid, slice.processor + 1,
                     slice.start, slice.end, ClassArgument(lane));
        }
    }
}

// The classes' shares in one column, as a counter's arguments.
std::string Shares(const std::map<int, std::vector<double>>& held, std::size_t bin, double whole) {
    std::string args;
    for (const auto& [index, columns] : held) {
        char share[32];
        std::snprintf(share, sizeof share, "%.2f", columns[bin] / whole);
        const std::string word =
            index < 0 ? "класс неизвестен" : std::string(herdlab_toolkit::ClassWord(index));
        // Appended piece by piece: "," + std::string trips a false
        // -Wrestrict in optimised GCC 12 builds.
        args.append(args.empty() ? "" : ",").append(JsonString(word)).append(":").append(share);
    }
    return args;
}

// Sampled: per reading interval each class's share of the row's processors,
// written where it changes.
void SampledProcessors(EventList& list, const Trace& trace,
                       const std::vector<ProcessorSlice>& slices, const ProcessorRow& row) {
    const double start = list.origin;
    const double end = std::max(double(trace.end), start);
    const Bins bins{start, double(kSampleInterval),
                    std::size_t((end - start) / kSampleInterval) + 1};
    std::map<int, std::vector<double>> held;  // by class index, -1 unknown
    for (const ProcessorSlice& slice : slices) {
        if (slice.lane < trace.lanes.size() &&
            (row.processor < 0 || slice.processor == row.processor)) {
            auto& columns = held[trace.lanes[slice.lane].priorityIndex];
            columns.resize(bins.count, 0);
            AddToBins(bins, slice.start, slice.end, columns);
        }
    }
    std::string last;
    for (std::size_t bin = 0; bin < bins.count; ++bin) {
        const std::string args = Shares(held, bin, bins.width * row.processors);
        if (args != last) {
            list.events.push_back(Head(row.label, "C", kProcessorsPid, 0) + ",\"ts\":" +
                                  std::to_string(list.Micros(start + double(bin) * bins.width)) +
                                  ",\"args\":{" + args + "}}");
            last = args;
        }
    }
}

void Processors(EventList& list, const Trace& trace) {
    Meta(list, "process_name", kProcessorsPid, 0, "процессоры");
    SortIndex(list, kProcessorsPid, 0);
    const std::vector<ProcessorSlice> slices = HeldSlices(trace);
    for (const ProcessorRow& row : ProcessorRows(trace, slices)) {
        if (trace.stateSource == StateSource::kExact) {
            Meta(list, "thread_name", kProcessorsPid, row.processor + 1, row.label);
        } else {
            SampledProcessors(list, trace, slices, row);
        }
    }
    if (trace.stateSource == StateSource::kExact) {
        ExactProcessors(list, trace);
    }
}

// What the file holds, for whoever opens it as text.
std::string OtherData(const Trace& trace) {
    std::string out = "{\"состояния\":" + JsonString(SourceWords(trace.stateSource));
    if (trace.stateSource == StateSource::kSampled && !trace.exactHint.empty()) {
        out += ",\"точнее\":" + JsonString(trace.exactHint);
    }
    if (trace.stateSource == StateSource::kExact) {
        out += ",\"потеряно записей\":" + std::to_string(trace.lostRecords);
    }
    return out + "}";
}

// The length of the UTF-8 sequence at `at`, 0 when it is not one (a lone
// continuation byte, a cut or overlong sequence, a surrogate).
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned lead = byte(0);
    std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const unsigned second = byte(1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c >= 0x80) {
            const std::size_t length = Utf8Length(text, at);
            out += length == 0 ? std::string("\\ufffd") : text.substr(at, length);
            at += std::max<std::size_t>(length, 1);
            continue;
        } else {
            out += char(c);
        }
        ++at;
    }
    return out + "\"";
}

std::string TraceEventJson(const Trace& trace) {
    EventList list{Origin(trace), {}};
    if (trace.stateSource != StateSource::kNone) {
        Processors(list, trace);
    } else {
        Meta(list, "process_name", kProcessorsPid, 0, "запуск");
    }
    for (std::size_t i = 0; i < trace.lanes.size(); ++i) {
        Child(list, trace, i);
    }
    if (trace.deadline != kNoTime) {
        Instant(list, "срок " + trace.deadlineLabel, kProcessorsPid, 0, double(trace.deadline),
                "g");
    }
    std::string out =
        "{\"displayTimeUnit\":\"ms\",\"otherData\":" + OtherData(trace) + ",\n\"traceEvents\":[\n";
    for (std::size_t i = 0; i < list.events.size(); ++i) {
        out += list.events[i] + (i + 1 < list.events.size() ? ",\n" : "\n");
    }
    return out + "]}\n";
}

}  // namespace herdtrace
