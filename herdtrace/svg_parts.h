// The pieces the picture is drawn from: its geometry, the time scale, and
// the SVG elements with their numbers and text written safely.
#pragma once

#include <algorithm>
#include <string>

#include "trace_model.h"

namespace herdtrace {

// Geometry in SVG pixels: labels on the left, the time axis above the
// processor bands and the lanes.
inline constexpr double kWidth = 1200;
inline constexpr double kPlotLeft = 250;
inline constexpr double kPlotRight = kWidth - 30;
inline constexpr double kAxisY = 62;
inline constexpr double kLaneTop = 72;
inline constexpr double kLaneHeight = 30;
inline constexpr double kLaneGap = 4;
// Readings and records are gathered into columns this wide: a pixel of a
// whole run holds tens of milliseconds, many switches.
inline constexpr double kBinPixels = 2;

// Maps the trace's times onto the plot's width.
struct Scale {
    Millis start;
    Millis end;

    double X(double time) const {
        const double span = double(std::max<Millis>(end - start, 1));
        return kPlotLeft + (kPlotRight - kPlotLeft) * (time - double(start)) / span;
    }
    // Milliseconds one column of kBinPixels holds.
    double BinMilliseconds() const {
        return double(std::max<Millis>(end - start, 1)) * kBinPixels / (kPlotRight - kPlotLeft);
    }
};

// Coordinates with two decimals: enough for a pixel, short in the file.
std::string Number(double value);

// Text as XML character data: names come from the transcript, so they may
// hold anything.
std::string Escaped(const std::string& text);

// The SVG elements the picture is made of; `extra` adds attributes.
std::string Text(double x, double y, const std::string& text, const char* extra = "");
std::string Rect(double x, double y, double width, double height, const std::string& fill,
                 double opacity);
std::string Line(double x1, double y1, double x2, double y2, const char* style);

// Rectangles of one fill as one path: a column that goes on from the one
// before at the same height is joined to it, so that a long stretch of one
// state is one rectangle, not hundreds.
struct Columns {
    void Add(double left, double right, double top, double height);
    // The path with these attributes ("fill=..."); empty when nothing was added.
    std::string Path(const std::string& attributes);

  private:
    void Flush();
    std::string path_;
    double left_ = 0;
    double right_ = -1;
    double top_ = 0;
    double height_ = 0;
};

}  // namespace herdtrace
