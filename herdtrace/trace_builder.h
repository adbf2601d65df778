// Building a trace from the programs' time-stamped lines, once each line is
// recognised (line_forms.h) and its values read (format_match_unit.h).
#pragma once

#include "format_match_unit.h"
#include "line_forms.h"
#include "trace_model.h"

namespace herdtrace {

// The trace so far, and what reading it needs to remember.
struct TraceBuilder {
    Trace trace;
    Millis dayOffset = 0;  // a whole day for each midnight the lines have passed
    Millis lastTime = kNoTime;
    Millis launcherStart = kNoTime;
};

// A recognised line's effect on the trace, by whose line it is. Times keep
// increasing across midnight: a stamp half a day before the latest one
// belongs to the next day.
void ApplyEventLine(TraceBuilder& builder, LineKind kind, const FormatFields& fields,
                    Millis timeOfDay);

// Once all lines are read: the lanes in their launcher's table order, the
// trace's start, and the feeders' deadline, which they do not print.
void FinishTrace(TraceBuilder& builder);

}  // namespace herdtrace
