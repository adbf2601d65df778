// The live page's style sheet and script (live_page_assets.cpp).
#pragma once

namespace herdtrace {

// CSS: the picture scaled to the window, the page's text large enough for
// the back of a room.
extern const char* const kLivePageStyle;

// JavaScript: asks for the next frame script every 250 ms and puts each
// frame into the page in place, until a frame says the run has ended.
extern const char* const kLivePageScript;

}  // namespace herdtrace
