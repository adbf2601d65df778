// The live view (herdtrace --live): a page opened from disk that herdtrace
// replaces whole while the run goes on, with no server and nothing to
// install. NAME.html holds the current frame (the picture inline, so its text
// is in the page) and a small script that keeps loading NAME.frame.js, which
// hands it the next frame; browsers let a page from disk load a script beside
// it, though not read another file. Without scripts the page still shows the
// frame it was written with, and reloads itself.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "trace_model.h"
#include "tracer.h"

namespace herdtrace {

// NAME.svg -> NAME.html beside it; any other name gets ".html" added.
std::string LivePagePath(const std::string& picture);

// A page being kept current.
struct LivePage {
    std::string path;       // NAME.html
    std::string framePath;  // NAME.frame.js
    long long frames = 0;   // written so far; the page shows only newer ones
    // When the last frame was made, and from how much of the output.
    std::chrono::steady_clock::time_point lastFrame{};
    std::size_t outputShown = 0;
};

LivePage OpenLivePage(const std::string& picture);

// One frame and what the page says around the picture.
struct LiveFrame {
    long long number = 0;
    bool ended = false;
    std::string lesson;   // the launcher's lesson in one Russian line
    std::string status;   // "прошло 12 с из 25 с", "запуск окончен ..."
    std::string svg;      // RenderSvg's picture without its XML declaration
    std::string summary;  // at the end only
    Millis newestLine = kNoTime;  // time of day of the newest line shown
};

// The run so far as the page draws it: the transcript read so far with its
// samples; open phases end now, a herd's deadline is expected 25 s after its
// first line until its launcher announces it, and the time axis reaches now
// and the deadline. `now` is the local time of day.
Trace TraceSoFar(const TracedRun& soFar, Millis now);

// The frame of a trace at time of day `now`; the summary only once ended.
LiveFrame MakeFrame(const Trace& trace, Millis now, bool ended);

// The whole page with that frame; `frameFile` is the frame script's name in
// the page's folder.
std::string PageHtml(const LiveFrame& frame, const std::string& frameFile);

// The frame script: one call of the page's herdtraceFrame with the frame.
std::string FrameScript(const LiveFrame& frame);

// UTF-8 text as a JavaScript (and JSON) string literal in plain ASCII: no
// character of it can end the literal or the script that holds it (quotes,
// backslashes, "</script>", line separators), and the file reads the same in
// any encoding. A malformed byte becomes U+FFFD.
std::string ScriptString(std::string_view utf8);

// Writes the run so far (`now`: the local time of day) as the next frame
// when one is due: at once for new output, else twice a second (later for
// an output of megabytes, which each frame reads again). False when a file
// could not be replaced.
bool ShowSoFar(LivePage& page, const TracedRun& soFar, Millis now);

// Writes the last frame: the whole run with its summary; the page stops
// asking for more.
bool ShowEnd(LivePage& page, const Trace& trace);

}  // namespace herdtrace
