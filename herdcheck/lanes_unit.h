// Checking a class of children side by side: one lane per name of the data
// set, each running one child at a time (its steady run, then its slow run),
// so a class is checked in a fraction of the time. Each child's waiting is
// measured by its own processor time, which the others do not change.
//
// A child that failed only because something took too long is checked once
// more, alone, after the others, and judged by that run: a correct child
// slowed by a busy machine passes then, a faulty one fails again.
#pragma once

#include <string>
#include <vector>

#include "report_unit.h"

// Checks the programs (Windows-1251, as typed) with data set 2 or 6,
// printing each child's lines as soon as it and those before it are judged.
// The reports are in the order of `programs`.
std::vector<ChildReport> CheckChildren(int dataSet, const std::vector<std::string>& programs);
