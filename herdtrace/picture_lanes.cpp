// A lane per child: its phases from its own lines in the upper part, its
// states underneath (running solid, ready hatched, asleep only a base
// line), or without states its sampled processor share as before.
#include <algorithm>
#include <cstdio>

#include "lane_states.h"
#include "picture_sections.h"

namespace herdtrace {

namespace {

// The first part of a child's work is drawn light, the second dark.
double PhaseOpacity(PhaseKind kind) {
    switch (kind) {
        case PhaseKind::kSearching:
        case PhaseKind::kFirstStage:
            return 0.35;
        case PhaseKind::kDrinking:
        case PhaseKind::kSecondStage:
        case PhaseKind::kEating:
            return 0.8;
    }
    return 0.5;
}

// The share of a processor, as an area in the lower part of the lane: full
// height is one whole processor. Readings past the axis's end are left out.
std::string CpuArea(const Lane& lane, const Scale& scale, double top, double height,
                    const char* colour) {
    Columns area;
    const double base = top + height;
    double binStart = -1;
    double binEnd = 0;
    double busy = 0;  // processor-milliseconds in the bin
    double span = 0;  // milliseconds in the bin
    const auto flush = [&] {
        if (span > 0) {
            const double share = std::min(busy / span, 1.0);
            area.Add(binStart, binEnd, base - share * height, share * height);
        }
    };
    for (const CpuSample& sample : lane.cpu) {
        if (sample.start >= scale.end) {
            break;
        }
        const double x1 = scale.X(double(sample.start));
        const double x2 = scale.X(double(std::min(sample.end, scale.end)));
        if (binStart < 0 || x2 - binStart > 3) {
            flush();
            binStart = x1;
            busy = 0;
            span = 0;
        }
        binEnd = x2;
        busy += sample.share * double(sample.end - sample.start);
        span += double(sample.end - sample.start);
    }
    flush();
    return area.Path(std::string("fill=\"") + colour + "\" fill-opacity=\"0.95\"");
}

// The lane's states in columns: running from the bottom, ready above it,
// and a base line wherever the child was alive, which is all an asleep
// child shows.
std::string StateRow(const Lane& lane, StateSource source, const Scale& scale, double top,
                     double height) {
    const Bins bins{double(scale.start), scale.BinMilliseconds(),
                    std::size_t((kPlotRight - kPlotLeft) / kBinPixels)};
    std::vector<double> running(bins.count, 0);
    std::vector<double> ready(bins.count, 0);
    std::vector<double> asleep(bins.count, 0);
    for (const StateSpan& span : LaneStateSpans(lane, source)) {
        std::vector<double>& columns = span.state == ChildState::kRunning ? running
                                       : span.state == ChildState::kReady ? ready
                                                                          : asleep;
        AddToBins(bins, span.start, span.end, columns);
    }
    Columns base, run, wait;
    for (std::size_t bin = 0; bin < bins.count; ++bin) {
        const double left = kPlotLeft + double(bin) * kBinPixels;
        const double right = left + kBinPixels;
        const double r = std::min(running[bin] / bins.width, 1.0);
        const double q = std::min(ready[bin] / bins.width, 1 - r);
        if (running[bin] + ready[bin] + asleep[bin] > 0) {
            base.Add(left, right, top + height - 1, 1);
        }
        run.Add(left, right, top + height * (1 - r), height * r);
        wait.Add(left, right, top + height * (1 - r - q), height * q);
    }
    return base.Path("fill=\"#666666\"") +
           run.Path(std::string("fill=\"") + ClassColour(lane.priorityIndex) + "\"") +
           wait.Path("fill=\"url(#" + ReadyPatternId(lane.priorityIndex) + ")\"");
}

// The lane's totals, shown when the pointer rests on it.
std::string StateTitle(const Lane& lane, StateSource source) {
    const StateTotals totals = TotalsOf(LaneStateSpans(lane, source));
    char text[160];
    std::snprintf(text, sizeof text, ": выполняется %.0f мс, готов %.0f мс, спит %.0f мс",
                  totals.running, totals.ready, totals.asleep);
    return "<title>" + Escaped(LaneLabel(lane) + text) + "</title>\n";
}

// A dot where the child ended on its own, a red cross where its launcher
// ended it.
std::string EndMark(const Lane& lane, const Scale& scale, double top) {
    if (lane.endedAt == kNoTime) {
        return {};
    }
    const double x = scale.X(double(lane.endedAt));
    const double middle = top + kLaneHeight / 2;
    if (lane.ending == Ending::kFinished) {
        return "<circle cx=\"" + Number(x) + "\" cy=\"" + Number(middle) +
               "\" r=\"4\" fill=\"#111\"><title>закончил сам</title></circle>\n";
    }
    const std::string style = "stroke=\"#c00000\" stroke-width=\"2.5\"";
    return Line(x - 5, middle - 5, x + 5, middle + 5, style.c_str()) +
           Line(x - 5, middle + 5, x + 5, middle - 5, style.c_str());
}

// The phases as bars from the child's lines; an open one runs to the
// axis's end.
std::string Phases(const Lane& lane, const Scale& scale, double top, double height) {
    std::string out;
    for (const Phase& phase : lane.phases) {
        const double start = scale.X(double(phase.start));
        const double end = scale.X(double(phase.end == kNoTime ? scale.end : phase.end));
        out += Rect(start, top, end - start, height, ClassColour(lane.priorityIndex),
                    PhaseOpacity(phase.kind));
    }
    return out;
}

}  // namespace

std::string DrawLane(const Lane& lane, StateSource source, const Scale& scale, double top) {
    const char* colour = ClassColour(lane.priorityIndex);
    const bool states = source != StateSource::kNone;
    std::string out = "<g class=\"lane\">\n";
    if (states) {
        out += StateTitle(lane, source);
    }
    out += Rect(kPlotLeft, top, kPlotRight - kPlotLeft, kLaneHeight, colour, 0.1);
    out += Text(8, top + kLaneHeight / 2 + 4, LaneLabel(lane), "font-size=\"12\" fill=\"#111\"");
    out += Rect(kPlotLeft - 14, top + 8, 10, kLaneHeight - 16, colour, 1);
    // Phases in the upper part; states or the processor share underneath.
    const bool lower = states || !lane.cpu.empty();
    const double phaseHeight = !lower   ? kLaneHeight - 8
                               : states ? kLaneHeight * 0.4
                                        : kLaneHeight * 0.45;
    out += Phases(lane, scale, top + 3, phaseHeight);
    if (states) {
        out +=
            StateRow(lane, source, scale, top + 3 + phaseHeight + 1, kLaneHeight - phaseHeight - 6);
    } else if (!lane.cpu.empty()) {
        out += CpuArea(lane, scale, top + kLaneHeight * 0.5, kLaneHeight * 0.5 - 2, colour);
    }
    for (const Millis tick : lane.feedTicks) {
        const double x = scale.X(double(tick));
        out += Line(x, top + 1, x, top + 3 + phaseHeight + 2, "stroke=\"#111\" stroke-width=\"1\"");
    }
    out += EndMark(lane, scale, top);
    out += "</g>\n";
    return out;
}

}  // namespace herdtrace
