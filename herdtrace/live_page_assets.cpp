// The live page's own style and script, written into every page herdtrace
// keeps current (live_page.cpp): how the page fits a projector, and how it
// takes each new frame without a server.
#include "live_page_assets.h"

namespace herdtrace {

// Scaled to the window, the whole picture in view on a projector; the
// page's own text large enough for the back of a room.
extern const char* const kLivePageStyle = R"(
html { font-family: sans-serif; font-size: 20px; color: #111; background: #fff; }
body { margin: 0.3rem 0.8rem; }
#lesson { font-size: 1rem; font-weight: bold; margin: 0; }
#status { font-size: 1rem; margin: 0.15rem 0 0.3rem; }
html[data-live="ended"] #status { color: #c00000; font-weight: bold; }
#picture svg { display: block; width: 100%; height: auto; max-height: calc(100vh - 4.2rem); }
#summary { font-size: max(16px, 0.8rem); margin: 0.5rem 0; white-space: pre-wrap; }
)";

// The page's script, in its head: asks for NAME.frame.js every 250 ms (a
// new script element each time: a page from disk may load scripts, not read
// files) and puts each newer frame in place of the old, in the same
// elements, so the picture neither blanks nor moves the scroll position. It
// stops once a frame says the run has ended.
//
// A browser may read a file that is being replaced only in part (Chromium
// takes a file's size before it opens it, so it can get the first bytes of
// the new one): a frame script cut short is a syntax error that calls
// nothing, and the next one comes 250 ms later; a page cut short lacks its
// last element, "whole", and then takes the frame it was written with from
// the frame script too, building the elements it misses. Every page is far
// longer than its head, so the script itself is always there.
//
// On the <html> element it tells how it is doing: data-script "ok" or
// "error" (data-script-error the message), data-frame the frame shown,
// data-unread the frame scripts that came cut short, data-worst-delay-ms how
// late after a line's time stamp the page showed it at worst (each delay
// also goes to the console, at its debug level).
extern const char* const kLivePageScript = R"(
(function () {
  "use strict";
  var root = document.documentElement;
  var shown = Number(root.getAttribute("data-frame"));
  var newestShown = Number(root.getAttribute("data-newest"));
  var whole = false;
  var lastNews = Date.now();
  var asked = 0;
  var unread = 0;
  var worstDelay = -1;
  function guarded(work) {
    return function (argument) {
      try {
        work(argument);
      } catch (error) {
        root.setAttribute("data-script", "error");
        root.setAttribute("data-script-error", String(error));
      }
    };
  }
  function element(id, tag) {
    var found = document.getElementById(id);
    if (found === null) {
      found = document.createElement(tag);
      found.id = id;
      document.body.appendChild(found);
    }
    return found;
  }
  function timeOfDay() {
    var d = new Date();
    return ((d.getHours() * 60 + d.getMinutes()) * 60 + d.getSeconds()) * 1000 +
        d.getMilliseconds();
  }
  function noteDelay(newest) {
    if (newest <= newestShown) { return; }
    var day = 86400000;
    var delay = ((timeOfDay() - newest % day) % day + day) % day;
    worstDelay = Math.max(worstDelay, delay);
    root.setAttribute("data-worst-delay-ms", String(worstDelay));
    // For a measurement from outside (a browser's log); hidden by default.
    console.debug("herdtrace: a line shown " + delay + " ms after its time stamp");
    newestShown = newest;
  }
  // The picture is herdtrace's own SVG: RenderSvg escapes every text it
  // draws (the programs' names and lines included) and writes no script and
  // no event attribute, so parsing it as markup runs nothing, and whatever a
  // traced program printed arrives here as text. The other fields are set
  // as text.
  function show(frame) {
    element("lesson", "p").textContent = frame.lesson;
    element("status", "p").textContent = frame.status;
    element("picture", "div").innerHTML = frame.svg;
    var summary = element("summary", "pre");
    summary.textContent = frame.summary;
    summary.hidden = frame.summary === "";
    element("whole", "p").hidden = true;
  }
  var took = false;
  window.herdtraceFrame = guarded(function (frame) {
    took = true;
    if (frame.number < shown || (frame.number === shown && whole)) { return; }
    show(frame);
    noteDelay(frame.newest);
    whole = true;
    shown = frame.number;
    lastNews = Date.now();
    root.setAttribute("data-frame", String(shown));
    root.setAttribute("data-live", frame.ended ? "ended" : "running");
  });
  var heard = guarded(function (script) {
    script.remove();
    if (!took && script.dataset.loaded === "yes") {
      root.setAttribute("data-unread", String(++unread));
    }
    var silent = Math.round((Date.now() - lastNews) / 1000);
    if (silent >= 5) {
      element("status", "p").textContent = "Новых кадров нет уже " + silent +
          " с: herdtrace остановлен или запуск идёт на другом компьютере.";
    }
    setTimeout(ask, 250);
  });
  var ask = guarded(function () {
    if (whole && root.getAttribute("data-live") === "ended") { return; }
    took = false;
    var script = document.createElement("script");
    script.src = encodeURIComponent(root.getAttribute("data-frame-file")) + "?n=" + (++asked);
    script.onload = function () { script.dataset.loaded = "yes"; heard(script); };
    script.onerror = function () { heard(script); };
    document.head.appendChild(script);
  });
  document.addEventListener("DOMContentLoaded", guarded(function () {
    whole = document.getElementById("whole") !== null;
    root.setAttribute("data-script", "ok");
    setTimeout(ask, whole ? 250 : 0);
  }));
})();
)";

}  // namespace herdtrace
