// Inside the layer: the private headers that the process calls draw on
// together (process.cpp, priority.cpp). Every other file includes only the
// header of each concern it uses.
#pragma once

#include "handles.h"
#include "mapping_cleanup.h"
#include "priority_classes.h"
#include "text_conversion.h"
