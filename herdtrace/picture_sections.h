// The parts of the picture, top to bottom: the heading, the processor bands,
// a lane per child, the legend. picture.cpp puts them together.
#pragma once

#include <string>

#include "picture.h"
#include "svg_parts.h"
#include "trace_model.h"

namespace herdtrace {

// The id of a class's hatching for "ready" (ClassColour in picture.h).
std::string ReadyPatternId(int priorityIndex);

// The hatchings, one per class, for the picture's <defs>.
std::string ReadyPatterns();

// The title and, when the trace has states, the line that names their
// source and any records lost.
std::string Heading(const Trace& trace);

// Who held each processor, coloured by class: a band per processor where
// the data names it, else one band for all. Nothing without states.
// `height` is the room the bands take.
std::string ProcessorBands(const Trace& trace, const Scale& scale, double top, double& height);

// One child's lane: its label, its phases and, underneath, its states (or,
// without states, its processor share as the readings give it).
std::string DrawLane(const Lane& lane, StateSource source, const Scale& scale, double top);

// Below the lanes: the class colours and what the bands and marks mean.
// `height` is the room it takes.
std::string Legend(const Trace& trace, double top, double& height);

}  // namespace herdtrace
