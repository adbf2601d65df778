// herdtrace's transcript reader over arbitrary bytes: it never fails, keeps
// to its limits, and what it builds is consistent (phases end after they
// start, a lane ends once, every unread line is counted).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "transcript_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace herdtrace;
    const Trace trace = ReadTranscript(std::string_view(reinterpret_cast<const char*>(data), size));
    Require(trace.lanes.size() <= kMostLanesDrawn, "at most kMostLanesDrawn lanes");
    Require(trace.unread.size() <= kMostUnreadKept && trace.unread.size() <= trace.unreadCount,
            "unread lines kept within the limit and all counted");
    for (const UnreadLine& line : trace.unread) {
        Require(line.text.size() <= kUnreadShownBytes * 3 + 40, "a reported line is cut");
    }
    for (const Lane& lane : trace.lanes) {
        Require(lane.priorityIndex >= -1 && lane.priorityIndex < 6, "a class index or none");
        Require(trace.start != kNoTime && lane.firstLine >= trace.start, "the trace starts first");
        for (const Phase& phase : lane.phases) {
            Require(phase.end == kNoTime || phase.end >= phase.start,
                    "a phase ends after it starts");
        }
        Require((lane.ending == Ending::kUnknown) == (lane.endedAt == kNoTime),
                "an ended lane has its end");
    }
    return 0;
}
