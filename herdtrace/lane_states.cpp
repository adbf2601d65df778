// A lane's states and the processors' holders from either source: the
// exact records as they are, the samples cut into pieces of the lengths
// they tell.
#include "lane_states.h"

#include <algorithm>
#include <cmath>

#include "herdlab_toolkit.h"
#include "tracer.h"

namespace herdtrace {

namespace {

// Appends a piece, joined to the previous one when it goes on in the same
// state on the same processor.
void Append(std::vector<StateSpan>& spans, double start, double end, ChildState state,
            int processor) {
    if (end <= start) {
        return;
    }
    if (!spans.empty()) {
        StateSpan& last = spans.back();
        if (last.state == state && last.processor == processor &&
            std::abs(last.end - start) < 1e-6) {
            last.end = end;
            return;
        }
    }
    spans.push_back(StateSpan{start, end, state, processor});
}

// One reading's interval: running for its share (a child with several busy
// threads is counted as one running child here), then ready, then asleep.
void AppendSample(std::vector<StateSpan>& spans, const CpuSample& sample) {
    const double start = double(sample.start);
    const double length = double(sample.end - sample.start);
    const double running = std::clamp(sample.share, 0.0, 1.0) * length;
    Append(spans, start, start + running, ChildState::kRunning, sample.processor);
    if (sample.ready < 0) {
        return;  // the rest is not known
    }
    const double ready = std::min(sample.ready * length, length - running);
    Append(spans, start + running, start + running + ready, ChildState::kReady, -1);
    Append(spans, start + running + ready, start + length, ChildState::kAsleep, -1);
}

}  // namespace

std::vector<StateSpan> LaneStateSpans(const Lane& lane, StateSource source) {
    if (source == StateSource::kExact) {
        return lane.states;
    }
    std::vector<StateSpan> spans;
    if (source == StateSource::kSampled) {
        for (const CpuSample& sample : lane.cpu) {
            AppendSample(spans, sample);
        }
    }
    return spans;
}

StateTotals TotalsOf(const std::vector<StateSpan>& spans) {
    StateTotals totals;
    for (const StateSpan& span : spans) {
        const double length = std::max(span.end - span.start, 0.0);
        switch (span.state) {
            case ChildState::kRunning:
                totals.running += length;
                break;
            case ChildState::kReady:
                totals.ready += length;
                break;
            case ChildState::kAsleep:
                totals.asleep += length;
                break;
        }
    }
    return totals;
}

bool ReadyKnown(const Trace& trace) {
    if (trace.stateSource != StateSource::kSampled) {
        return trace.stateSource == StateSource::kExact;
    }
    return std::any_of(trace.lanes.begin(), trace.lanes.end(), [](const Lane& lane) {
        return std::any_of(lane.cpu.begin(), lane.cpu.end(),
                           [](const CpuSample& sample) { return sample.ready >= 0; });
    });
}

std::vector<ProcessorSlice> HeldSlices(const Trace& trace) {
    if (trace.stateSource == StateSource::kExact) {
        return trace.processorSlices;
    }
    std::vector<ProcessorSlice> slices;
    for (std::size_t i = 0; i < trace.lanes.size(); ++i) {
        for (const StateSpan& span : LaneStateSpans(trace.lanes[i], trace.stateSource)) {
            if (span.state == ChildState::kRunning) {
                slices.push_back(ProcessorSlice{span.start, span.end, span.processor, i});
            }
        }
    }
    return slices;
}

std::vector<ProcessorRow> ProcessorRows(const Trace& trace,
                                        const std::vector<ProcessorSlice>& slices) {
    const bool eachKnown =
        std::all_of(slices.begin(), slices.end(),
                    [](const ProcessorSlice& slice) { return slice.processor >= 0; });
    std::vector<ProcessorRow> rows;
    if (eachKnown) {
        std::vector<int> processors = trace.processors;
        for (const ProcessorSlice& slice : slices) {
            processors.push_back(slice.processor);
        }
        std::sort(processors.begin(), processors.end());
        processors.erase(std::unique(processors.begin(), processors.end()), processors.end());
        for (const int processor : processors) {
            rows.push_back(ProcessorRow{"процессор " + std::to_string(processor), processor, 1});
        }
    }
    if (rows.empty()) {
        const std::size_t count = std::max<std::size_t>(trace.processors.size(), 1);
        rows.push_back(
            ProcessorRow{count == 1 ? "процессор" : "процессоры (" + std::to_string(count) + ")",
                         -1, double(count)});
    }
    return rows;
}

void AddToBins(const Bins& bins, double start, double end, std::vector<double>& columns) {
    if (bins.width <= 0 || bins.count == 0 || end <= start) {
        return;
    }
    const double first = std::max((start - bins.start) / bins.width, 0.0);
    const double last = std::min((end - bins.start) / bins.width, double(bins.count));
    for (double at = std::floor(first); at < last; at += 1) {
        const double from = std::max(at, first);
        const double to = std::min(at + 1, last);
        if (to > from) {
            columns[std::size_t(at)] += (to - from) * bins.width;
        }
    }
}

std::string LaneLabel(const Lane& lane) {
    if (lane.priorityIndex < 0) {
        return lane.name;
    }
    return lane.name + " — " + std::string(herdlab_toolkit::ClassWord(lane.priorityIndex));
}

const char* StateWord(ChildState state) {
    switch (state) {
        case ChildState::kRunning:
            return "выполняется";
        case ChildState::kReady:
            return "готов";
        case ChildState::kAsleep:
            break;
    }
    return "спит";
}

const char* PhaseWord(PhaseKind kind) {
    switch (kind) {
        case PhaseKind::kSearching:
            return "поиск воды";
        case PhaseKind::kDrinking:
            return "питьё";
        case PhaseKind::kFirstStage:
            return "первый этап";
        case PhaseKind::kSecondStage:
            return "второй этап";
        case PhaseKind::kEating:
            break;
    }
    return "еда";
}

std::string SourceWords(StateSource source) {
    switch (source) {
        case StateSource::kExact:
            return "точно: каждое переключение процессора";
        case StateSource::kSampled:
            return "по отсчётам каждые " + std::to_string(kSampleInterval) + " мс";
        case StateSource::kNone:
            break;
    }
    return "без данных о процессоре";
}

}  // namespace herdtrace
