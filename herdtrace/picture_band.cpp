// The processor bands at the top of the picture: for each column of time,
// how much of it each class held the processor, stacked. Exact slices of
// one holder fill a column in its colour; sampled shares stack up.
#include <algorithm>
#include <array>

#include "lane_states.h"
#include "picture_sections.h"

namespace herdtrace {

namespace {

constexpr double kBandHeight = 24;
constexpr double kBandGap = 4;
constexpr double kBandsBelow = 10;  // room between the bands and the lanes
// Six classes and the unknown one.
constexpr std::size_t kHolderKinds = 7;
constexpr std::size_t kUnknownHolder = 6;
// The band's classes from the bottom up: the highest first, unknown last.
constexpr std::size_t kStackOrder[kHolderKinds] = {5, 4, 3, 2, 1, 0, kUnknownHolder};

std::size_t HolderKind(const Trace& trace, const ProcessorSlice& slice) {
    const int index = slice.lane < trace.lanes.size() ? trace.lanes[slice.lane].priorityIndex : -1;
    return index >= 0 && index < 6 ? std::size_t(index) : kUnknownHolder;
}

// Per holder kind, the milliseconds it held the row's processor in each column.
std::array<std::vector<double>, kHolderKinds> HeldColumns(const Trace& trace,
                                                          const std::vector<ProcessorSlice>& slices,
                                                          const ProcessorRow& row,
                                                          const Bins& bins) {
    std::array<std::vector<double>, kHolderKinds> held;
    for (std::vector<double>& columns : held) {
        columns.assign(bins.count, 0);
    }
    for (const ProcessorSlice& slice : slices) {
        if (row.processor < 0 || slice.processor == row.processor) {
            AddToBins(bins, slice.start, slice.end, held[HolderKind(trace, slice)]);
        }
    }
    return held;
}

// One band: the classes stacked from the bottom, the highest first, each
// column's height its share of the row's processors.
std::string Band(const Trace& trace, const std::vector<ProcessorSlice>& slices,
                 const ProcessorRow& row, const Scale& scale, double top) {
    std::string out = "<g class=\"processor-band\">\n";
    out += Rect(kPlotLeft, top, kPlotRight - kPlotLeft, kBandHeight, "#eeeeee", 1);
    out += Text(8, top + kBandHeight / 2 + 4, row.label,
                "font-size=\"12\" font-weight=\"bold\" fill=\"#111\"");
    const Bins bins{double(scale.start), scale.BinMilliseconds(),
                    std::size_t((kPlotRight - kPlotLeft) / kBinPixels)};
    const auto held = HeldColumns(trace, slices, row, bins);
    std::array<Columns, kHolderKinds> columns;
    for (std::size_t bin = 0; bin < bins.count; ++bin) {
        const double left = kPlotLeft + double(bin) * kBinPixels;
        double filled = 0;  // share of the band's height below this class
        for (const std::size_t kind : kStackOrder) {
            const double share = held[kind][bin] / (bins.width * row.processors);
            const double height = std::min(share, 1 - filled) * kBandHeight;
            columns[kind].Add(left, left + kBinPixels, top + kBandHeight * (1 - filled) - height,
                              height);
            filled = std::min(filled + share, 1.0);
        }
    }
    for (std::size_t kind = 0; kind < kHolderKinds; ++kind) {
        const int index = kind == kUnknownHolder ? -1 : int(kind);
        out += columns[kind].Path(std::string("fill=\"") + ClassColour(index) + "\"");
    }
    out += "</g>\n";
    return out;
}

}  // namespace

std::string ProcessorBands(const Trace& trace, const Scale& scale, double top, double& height) {
    height = 0;
    if (trace.stateSource == StateSource::kNone) {
        return {};
    }
    const std::vector<ProcessorSlice> slices = HeldSlices(trace);
    std::string out = "<g id=\"processor-bands\">\n";
    for (const ProcessorRow& row : ProcessorRows(trace, slices)) {
        out += Band(trace, slices, row, scale, top + height);
        height += kBandHeight + kBandGap;
    }
    height += kBandsBelow - kBandGap;
    return out + "</g>\n";
}

}  // namespace herdtrace
