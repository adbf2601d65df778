// The words around the drawing: the heading with the states' source, and
// the legend of colours, states and marks below the lanes.
#include "herdlab_toolkit.h"
#include "lane_states.h"
#include "picture_sections.h"

namespace herdtrace {

namespace {

// One colour per priority class, idle .. real time, told apart also in
// grey print; a lane of unknown class is grey.
const char* const kClassColours[6] = {"#4e79a7", "#59a14f", "#b8a100",
                                      "#f28e2b", "#e15759", "#9c5fb5"};
const char* const kUnknownColour = "#9a9a9a";

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

// What the upper part of a lane shows for this launcher's children.
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

std::string ClassKey(double top) {
    std::string out;
    double x = 8;
    for (int i = 0; i < 6; ++i) {
        out += Rect(x, top, 12, 12, kClassColours[i], 1);
        out += Text(x + 16, top + 10, std::string(herdlab_toolkit::ClassWord(i)));
        x += 24 + 7.0 * double(herdlab_toolkit::ClassWord(i).size()) / 2 + 8;
    }
    return out;
}

// The three states as they look in a lane, with the course's words.
std::string StateKey(const Trace& trace, double top) {
    std::string out = Text(8, top + 10, "состояние:");
    out += Rect(80, top, 24, 12, kUnknownColour, 1);
    out += Text(108, top + 10, StateWord(ChildState::kRunning));
    if (ReadyKnown(trace)) {
        out += Rect(200, top, 24, 12, "url(#" + ReadyPatternId(-1) + ")", 1);
        out +=
            Text(228, top + 10, StateWord(ChildState::kReady) + std::string(" (ждёт процессор)"));
        out += Rect(380, top + 11, 24, 1, "#666666", 1);
        out += Text(408, top + 10, StateWord(ChildState::kAsleep) + std::string(" (ждёт другого)"));
    } else {
        out += Text(200, top + 10,
                    "готов и спит здесь не различить: система даёт только время на процессоре");
    }
    return out;
}

}  // namespace

const char* ClassColour(int priorityIndex) {
    return priorityIndex >= 0 && priorityIndex < 6 ? kClassColours[priorityIndex] : kUnknownColour;
}

std::string ReadyPatternId(int priorityIndex) {
    return "ready-" + std::to_string(priorityIndex >= 0 && priorityIndex < 6 ? priorityIndex : 6);
}

// Stripes of the class colour on a light ground of it: plainly not the
// solid colour of running, even in grey print.
std::string ReadyPatterns() {
    std::string out = "<defs>\n";
    for (int index = -1; index < 6; ++index) {
        const std::string colour = ClassColour(index);
        out += "<pattern id=\"" + ReadyPatternId(index) +
               "\" patternUnits=\"userSpaceOnUse\" width=\"5\" height=\"5\" "
               "patternTransform=\"rotate(45)\">" +
               "<rect width=\"5\" height=\"5\" fill=\"" + colour + "\" fill-opacity=\"0.2\"/>" +
               "<rect width=\"2\" height=\"5\" fill=\"" + colour + "\"/></pattern>\n";
    }
    return out + "</defs>\n";
}

std::string Heading(const Trace& trace) {
    std::string out =
        Text(8, 22, Title(trace.kind), "font-size=\"16\" font-weight=\"bold\" fill=\"#111\"");
    if (trace.stateSource == StateSource::kNone) {
        return out;
    }
    out += Text(8, 40, "Состояния процессов: " + SourceWords(trace.stateSource),
                "id=\"state-source\" font-size=\"12\" fill=\"#111\"");
    if (trace.lostRecords > 0) {
        out += Text(kPlotRight, 22,
                    "потеряно записей: " + std::to_string(trace.lostRecords) +
                        " (там состояния не известны)",
                    "font-size=\"12\" font-weight=\"bold\" fill=\"#c00000\" text-anchor=\"end\"");
    }
    return out;
}

std::string Legend(const Trace& trace, double top, double& height) {
    std::string out = "<g id=\"legend\" font-size=\"11\" fill=\"#111\">\n" + ClassKey(top);
    double y = top + 28;
    if (trace.stateSource == StateSource::kNone) {
        out += Text(8, y,
                    PhaseLegend(trace.kind) +
                        "; нижняя половина полосы — доля процессора "
                        "(вся высота — один процессор)");
    } else {
        out += Text(8, y,
                    "полосы «процессор» — кто его держал, цветом класса; в полосе процесса: " +
                        PhaseLegend(trace.kind) + ", под ней — его состояние");
        out += StateKey(trace, y + 6);
        y += 22;
    }
    out += Text(8, y + 16,
                "● закончил сам;  ✕ завершён запускающим;  красный пунктир — срок ожидания");
    y += 16;
    if (trace.stateSource == StateSource::kSampled && !trace.exactHint.empty()) {
        out += Text(8, y + 16, trace.exactHint, "fill=\"#555\"");
        y += 16;
    }
    height = y + 10 - top;
    out += "</g>\n";
    return out;
}

}  // namespace herdtrace
