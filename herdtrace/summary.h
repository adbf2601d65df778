// The short Russian report herdtrace prints after the run.
#pragma once

#include <string>
#include <vector>

#include "trace_model.h"

namespace herdtrace {

// Spearman's rank correlation of two equally long series, ties given their
// mean rank. False when it is not defined: fewer than three pairs, or one
// series without any spread.
bool SpearmanCorrelation(const std::vector<double>& x, const std::vector<double>& y, double& rho);

// Per child its class, processor time and when it finished or was ended;
// for a herd the class/finish correlation and what it says. UTF-8 lines.
std::string Summary(const Trace& trace);

}  // namespace herdtrace
