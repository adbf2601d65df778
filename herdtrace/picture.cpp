// Drawing the trace. Everything is plain SVG 1.1: rectangles, lines, paths
// and text in the generic sans-serif font, so any browser and rsvg-convert
// show it without scripts or fonts of its own.
#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "herdlab_toolkit.h"

namespace herdtrace {

namespace {

// Geometry in SVG pixels: lane labels on the left, the time axis above the
// lanes, one lane per child below it.
constexpr double kWidth = 1200;
constexpr double kPlotLeft = 250;
constexpr double kPlotRight = kWidth - 30;
constexpr double kAxisY = 62;
constexpr double kLaneTop = 72;
constexpr double kLaneHeight = 30;
constexpr double kLaneGap = 4;
constexpr double kCpuBinPixels = 3;  // samples are merged into bins this wide

// One colour per priority class, idle .. real time, told apart also in
// grey print; a lane of unknown class is grey.
const char* const kClassColours[6] = {"#4e79a7", "#59a14f", "#b8a100",
                                      "#f28e2b", "#e15759", "#9c5fb5"};
const char* const kUnknownColour = "#9a9a9a";

// Maps the trace's times onto the plot's width.
struct Scale {
    Millis start;
    Millis end;

    double X(Millis time) const {
        const double span = std::max<Millis>(end - start, 1);
        return kPlotLeft + (kPlotRight - kPlotLeft) * double(time - start) / span;
    }
};

// Coordinates with two decimals: enough for a pixel, short in the file.
std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Text as XML character data: names come from the transcript, so they may
// hold anything.
std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Control characters are not allowed in XML text.
                out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return out;
}

// The SVG elements the picture is made of; `extra` adds attributes.
std::string Text(double x, double y, const std::string& text, const char* extra = "") {
    return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" " + extra + ">" + Escaped(text) +
           "</text>\n";
}

std::string Rect(double x, double y, double width, double height, const char* fill,
                 double opacity) {
    return "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" +
           Number(std::max(width, 0.5)) + "\" height=\"" + Number(height) + "\" fill=\"" + fill +
           "\" fill-opacity=\"" + Number(opacity) + "\"/>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const char* style) {
    return "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) +
           "\" y2=\"" + Number(y2) + "\" " + style + "/>\n";
}

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
    std::string out = "<g font-size=\"11\" fill=\"#333\" text-anchor=\"middle\">\n";
    const Millis step = TickStep(scale.end - scale.start);
    for (Millis at = 0; scale.start + at <= scale.end; at += step) {
        const double x = scale.X(scale.start + at);
        out += Line(x, kAxisY - 4, x, bottom, "stroke=\"#ddd\" stroke-width=\"1\"");
        out += Text(x, kAxisY - 8, SecondsText(at));
    }
    out += "</g>\n";
    out += Line(kPlotLeft, kAxisY, kPlotRight, kAxisY, "stroke=\"#333\" stroke-width=\"1\"");
    return out;
}

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
// height is one whole processor.
std::string CpuArea(const Lane& lane, const Scale& scale, double top, double height,
                    const char* colour) {
    if (lane.cpu.empty()) {
        return {};
    }
    std::string path;
    const double base = top + height;
    double binStart = -1;
    double binEnd = 0;
    double busy = 0;  // processor-milliseconds in the bin
    double span = 0;  // milliseconds in the bin
    const auto flush = [&] {
        if (span <= 0) {
            return;
        }
        const double share = std::min(busy / span, 1.0);
        const double y = base - share * height;
        // Appended piece by piece: "M" + std::string trips a false -Wrestrict
        // in optimised GCC 12 builds.
        path.append("M").append(Number(binStart)).append(" ").append(Number(base));
        path.append("H").append(Number(binEnd)).append("V").append(Number(y));
        path.append("H").append(Number(binStart)).append("Z");
    };
    for (const CpuSample& sample : lane.cpu) {
        const double x1 = scale.X(sample.start);
        const double x2 = scale.X(sample.end);
        if (binStart < 0 || x2 - binStart > kCpuBinPixels) {
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
    return "<path d=\"" + path + "\" fill=\"" + colour + "\" fill-opacity=\"0.95\"/>\n";
}

// A dot where the child ended on its own, a red cross where its launcher
// ended it.
std::string EndMark(const Lane& lane, const Scale& scale, double top) {
    if (lane.endedAt == kNoTime) {
        return {};
    }
    const double x = scale.X(lane.endedAt);
    const double middle = top + kLaneHeight / 2;
    if (lane.ending == Ending::kFinished) {
        return "<circle cx=\"" + Number(x) + "\" cy=\"" + Number(middle) +
               "\" r=\"4\" fill=\"#111\"><title>закончил сам</title></circle>\n";
    }
    const std::string style = "stroke=\"#c00000\" stroke-width=\"2.5\"";
    return Line(x - 5, middle - 5, x + 5, middle + 5, style.c_str()) +
           Line(x - 5, middle + 5, x + 5, middle - 5, style.c_str());
}

// "Слон 3 — высокий": the child and its class, where known.
std::string LaneLabel(const Lane& lane) {
    if (lane.priorityIndex < 0) {
        return lane.name;
    }
    return lane.name + " — " + std::string(herdlab_toolkit::ClassWord(lane.priorityIndex));
}

// One child's lane: a faint band in its class colour, its label and colour
// key, its phases, its processor share, the feeder's ticks and its end.
std::string DrawLane(const Lane& lane, const Scale& scale, double top, Millis traceEnd) {
    const char* colour = ClassColour(lane.priorityIndex);
    std::string out = "<g>\n";
    out += Rect(kPlotLeft, top, kPlotRight - kPlotLeft, kLaneHeight, colour, 0.1);
    out += Text(8, top + kLaneHeight / 2 + 4, LaneLabel(lane), "font-size=\"12\" fill=\"#111\"");
    out += Rect(kPlotLeft - 14, top + 8, 10, kLaneHeight - 16, colour, 1);
    // Phases in the upper half, processor share in the lower half.
    const double phaseHeight = lane.cpu.empty() ? kLaneHeight - 8 : kLaneHeight * 0.45;
    for (const Phase& phase : lane.phases) {
        const Millis end = phase.end == kNoTime ? traceEnd : phase.end;
        out += Rect(scale.X(phase.start), top + 3, scale.X(end) - scale.X(phase.start), phaseHeight,
                    colour, PhaseOpacity(phase.kind));
    }
    out += CpuArea(lane, scale, top + kLaneHeight * 0.5, kLaneHeight * 0.5 - 2, colour);
    for (const Millis tick : lane.feedTicks) {
        const double x = scale.X(tick);
        out += Line(x, top + 1, x, top + 3 + phaseHeight + 2, "stroke=\"#111\" stroke-width=\"1\"");
    }
    out += EndMark(lane, scale, top);
    out += "</g>\n";
    return out;
}

// The launcher's deadline as a dashed red line across all lanes, when it
// lies within the trace.
std::string Deadline(const Trace& trace, const Scale& scale, double bottom) {
    if (trace.deadline == kNoTime || trace.deadline < scale.start || trace.deadline > scale.end) {
        return {};
    }
    const double x = scale.X(trace.deadline);
    return "<g id=\"deadline\">\n" +
           Line(x, kAxisY - 2, x, bottom,
                "stroke=\"#c00000\" stroke-width=\"2\" stroke-dasharray=\"6 4\"") +
           Text(x - 4, kAxisY + 8, "срок " + trace.deadlineLabel,
                "font-size=\"11\" fill=\"#c00000\" text-anchor=\"end\"") +
           "</g>\n";
}

// The heading and the legend's first line name what the launcher's
// children do.
const char* Title(LauncherKind kind) {
    switch (kind) {
        case LauncherKind::kHerd:
            return "Стадо: кто и когда получал процессор";
        case LauncherKind::kMonitor:
            return "Монитор процессов: этапы работников";
        case LauncherKind::kFeeder:
            return "Кормление через общую память";
        case LauncherKind::kUnknown:
            break;
    }
    return "Запуск";
}

// What the upper half of a lane shows for this launcher's children.
std::string PhaseLegend(LauncherKind kind) {
    switch (kind) {
        case LauncherKind::kHerd:
            return "светлая полоса — поиск воды, тёмная — питьё";
        case LauncherKind::kMonitor:
            return "светлая полоса — первый этап, тёмная — второй";
        case LauncherKind::kFeeder:
            return "полоса — еда, штрих — каждые 10 порций";
        case LauncherKind::kUnknown:
            break;
    }
    return "";
}

// Below the lanes: the class colours, then what the bands and marks mean.
std::string Legend(const Trace& trace, double top) {
    std::string out = "<g id=\"legend\" font-size=\"11\" fill=\"#111\">\n";
    double x = 8;
    for (int i = 0; i < 6; ++i) {
        out += Rect(x, top, 12, 12, kClassColours[i], 1);
        out += Text(x + 16, top + 10, std::string(herdlab_toolkit::ClassWord(i)));
        x += 24 + 7.0 * double(herdlab_toolkit::ClassWord(i).size()) / 2 + 8;
    }
    out += Text(8, top + 28,
                PhaseLegend(trace.kind) +
                    "; нижняя половина полосы — доля процессора "
                    "(вся высота — один процессор)");
    out += Text(8, top + 44,
                "● закончил сам;  ✕ завершён запускающим;  красный пунктир — срок ожидания");
    out += "</g>\n";
    return out;
}

}  // namespace

const char* ClassColour(int priorityIndex) {
    return priorityIndex >= 0 && priorityIndex < 6 ? kClassColours[priorityIndex] : kUnknownColour;
}

std::string RenderSvg(const Trace& trace) {
    const Scale scale{trace.start == kNoTime ? 0 : trace.start,
                      std::max(trace.end, trace.start) + 1};
    const double lanesBottom = kLaneTop + double(trace.lanes.size()) * (kLaneHeight + kLaneGap);
    const double height = lanesBottom + 70;
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) + "\" height=\"" +
           Number(height) + "\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(height) +
           "\" font-family=\"sans-serif\">\n";
    svg += Rect(0, 0, kWidth, height, "#ffffff", 1);
    svg += Text(8, 22, Title(trace.kind), "font-size=\"16\" font-weight=\"bold\" fill=\"#111\"");
    if (trace.lanes.empty()) {
        svg += Text(8, kLaneTop + 20, "В записи нет строк запущенных процессов.",
                    "font-size=\"13\" fill=\"#111\"");
    } else {
        svg += TimeScale(scale, lanesBottom);
        double top = kLaneTop;
        for (const Lane& lane : trace.lanes) {
            svg += DrawLane(lane, scale, top, scale.end);
            top += kLaneHeight + kLaneGap;
        }
        svg += Deadline(trace, scale, lanesBottom);
    }
    svg += Legend(trace, lanesBottom + 16);
    svg += "</svg>\n";
    return svg;
}

}  // namespace herdtrace
