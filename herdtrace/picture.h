// The picture of a run: one self-contained SVG, time across, a band per
// processor and a lane per child coloured by its priority class.
#pragma once

#include <string>

#include "trace_model.h"

namespace herdtrace {

std::string RenderSvg(const Trace& trace);

// The colour of a priority class (index 0..5; -1 for an unknown class).
const char* ClassColour(int priorityIndex);

}  // namespace herdtrace
