// What the checker prints and writes: the lines of each child's checks, the
// table over all children and the same results as JSON for a gradebook.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "verdict_unit.h"

struct ChildReport {
    std::string program;      // as typed (Windows-1251)
    std::string commandLine;  // what the child was given (Windows-1251)
    CheckResult results[kCheckCount];
};

// UTF-8 of a Windows-1251 text.
std::string Utf8FromCp1251(std::string_view text);

// The child's lines: a heading, then one line per check (Windows-1251, no line ends).
std::vector<std::string> ChildReportLines(const ChildReport& report);

// The table: a heading and a row per child with a column per check.
std::vector<std::string> TableLines(const std::vector<ChildReport>& reports);

// The whole result as JSON (UTF-8, LF line ends), one child per line.
std::string JsonReport(int dataSet, const std::vector<ChildReport>& reports);
