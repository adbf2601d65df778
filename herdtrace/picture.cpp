// Drawing the trace. Everything is plain SVG 1.1: rectangles, lines, paths
// and text in the generic sans-serif font, so any browser and rsvg-convert
// show it without scripts or fonts of its own.
#include "picture.h"

#include <algorithm>
#include <string>

#include "picture_sections.h"

namespace herdtrace {

namespace {

// Seconds between two labelled marks of the scale: 1, 2, 5, 10 ... so that
// at most about 15 marks fit, however long the trace (a hostile transcript
// may span years).
Millis TickStep(Millis span) {
    for (const Millis step : {1000, 2000, 5000, 10000, 20000, 30000, 60000, 120000, 300000}) {
        if (span / step <= 15) {
            return step;
        }
    }
    constexpr Millis kTenMinutes = 600000;
    return (span / 15 / kTenMinutes + 1) * kTenMinutes;
}

// A mark's label: whole seconds from the trace's start.
std::string SecondsText(Millis millis) {
    return std::to_string(millis / 1000) + " с";
}

// The axis with a mark and a faint grid line every TickStep, counted in
// seconds from the trace's start.
std::string TimeScale(const Scale& scale, double bottom) {
    std::string out =
        "<g id=\"time-axis\" font-size=\"11\" fill=\"#333\" text-anchor=\"middle\">\n";
    const Millis step = TickStep(scale.end - scale.start);
    for (Millis at = 0; scale.start + at <= scale.end; at += step) {
        const double x = scale.X(double(scale.start + at));
        out += Line(x, kAxisY - 4, x, bottom, "stroke=\"#ddd\" stroke-width=\"1\"");
        out += Text(x, kAxisY - 8, SecondsText(at));
    }
    out += "</g>\n";
    out += Line(kPlotLeft, kAxisY, kPlotRight, kAxisY, "stroke=\"#333\" stroke-width=\"1\"");
    return out;
}

// The launcher's deadline as a dashed red line across all lanes, when it
// lies within the trace.
std::string Deadline(const Trace& trace, const Scale& scale, double bottom) {
    if (trace.deadline == kNoTime || trace.deadline < scale.start || trace.deadline > scale.end) {
        return {};
    }
    const double x = scale.X(double(trace.deadline));
    return "<g id=\"deadline\">\n" +
           Line(x, kAxisY - 2, x, bottom,
                "stroke=\"#c00000\" stroke-width=\"2\" stroke-dasharray=\"6 4\"") +
           Text(x - 4, kAxisY + 8, "срок " + trace.deadlineLabel,
                "font-size=\"11\" fill=\"#c00000\" text-anchor=\"end\"") +
           "</g>\n";
}

// The axis ends with the children: the last one's end or the deadline,
// whichever is later, and a little room. The trace itself goes on to the
// launcher's last line and the end of the traced run, which may come long
// after (the final answer is typed when the user gets to it). A child whose
// end the transcript does not show keeps the whole trace.
Millis AxisEnd(const Trace& trace) {
    Millis last = trace.deadline;
    for (const Lane& lane : trace.lanes) {
        last = std::max(last, lane.endedAt == kNoTime ? trace.end : lane.endedAt);
    }
    if (last == kNoTime || trace.start == kNoTime) {
        return trace.end;
    }
    const Millis room = std::max<Millis>(300, (last - trace.start) / 40);
    return std::min(std::max(trace.end, last), last + room);
}

std::string SvgOpening(double height) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           Number(kWidth) + "\" height=\"" + Number(height) + "\" viewBox=\"0 0 " + Number(kWidth) +
           " " + Number(height) + "\" font-family=\"sans-serif\">\n";
}

// The bands and the lanes below the axis; `bottom` is where they end.
std::string Plot(const Trace& trace, const Scale& scale, double& bottom) {
    double bandsHeight = 0;
    const std::string bands = ProcessorBands(trace, scale, kLaneTop, bandsHeight);
    std::string lanes;
    double top = kLaneTop + bandsHeight;
    for (const Lane& lane : trace.lanes) {
        lanes += DrawLane(lane, trace.stateSource, scale, top);
        top += kLaneHeight + kLaneGap;
    }
    bottom = top;
    return TimeScale(scale, bottom) + bands + lanes + Deadline(trace, scale, bottom);
}

}  // namespace

std::string RenderSvg(const Trace& trace) {
    const Millis start = trace.start == kNoTime ? 0 : trace.start;
    const Scale scale{start, std::max(AxisEnd(trace), start) + 1};
    std::string body;
    double bottom = kLaneTop;
    if (trace.lanes.empty()) {
        body = Text(8, kLaneTop + 20, "В записи нет строк запущенных процессов.",
                    "font-size=\"13\" fill=\"#111\"");
        bottom = kLaneTop + double(trace.lanes.size()) * (kLaneHeight + kLaneGap);
    } else {
        body = Plot(trace, scale, bottom);
    }
    double legendHeight = 0;
    body += Legend(trace, bottom + 16, legendHeight);
    const double height = bottom + 16 + legendHeight;
    std::string svg = SvgOpening(height) + Rect(0, 0, kWidth, height, "#ffffff", 1);
    if (trace.stateSource != StateSource::kNone) {
        svg += ReadyPatterns();
    }
    return svg + Heading(trace) + body + "</svg>\n";
}

}  // namespace herdtrace
