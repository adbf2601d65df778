// The SVG elements of the picture, with their numbers and text written so
// that any transcript gives a well-formed file.
#include "svg_parts.h"

#include <cmath>
#include <cstdio>

namespace herdtrace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

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
                // Control characters other than line ends and tabs are not
                // allowed in XML text.
                out += static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\r' || c == '\t'
                           ? c
                           : ' ';
        }
    }
    return out;
}

std::string Text(double x, double y, const std::string& text, const char* extra) {
    return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" " + extra + ">" + Escaped(text) +
           "</text>\n";
}

std::string Rect(double x, double y, double width, double height, const std::string& fill,
                 double opacity) {
    return "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" +
           Number(std::max(width, 0.5)) + "\" height=\"" + Number(height) + "\" fill=\"" + fill +
           "\" fill-opacity=\"" + Number(opacity) + "\"/>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const char* style) {
    return "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) +
           "\" y2=\"" + Number(y2) + "\" " + style + "/>\n";
}

void Columns::Add(double left, double right, double top, double height) {
    constexpr double kSame = 0.05;  // pixels: no eye sees less
    if (height < kSame) {
        return;
    }
    if (std::abs(left - right_) < kSame && std::abs(top - top_) < kSame &&
        std::abs(height - height_) < kSame) {
        right_ = right;
        return;
    }
    Flush();
    left_ = left;
    right_ = right;
    top_ = top;
    height_ = height;
}

void Columns::Flush() {
    if (right_ <= left_) {
        return;
    }
    // Appended piece by piece: "M" + std::string trips a false -Wrestrict in
    // optimised GCC 12 builds.
    path_.append("M").append(Number(left_)).append(" ").append(Number(top_));
    path_.append("H").append(Number(right_)).append("v").append(Number(height_));
    path_.append("H").append(Number(left_)).append("Z");
    right_ = left_ - 1;
}

std::string Columns::Path(const std::string& attributes) {
    Flush();
    if (path_.empty()) {
        return {};
    }
    std::string out = "<path d=\"" + path_ + "\" " + attributes + "/>\n";
    path_.clear();
    return out;
}

}  // namespace herdtrace
