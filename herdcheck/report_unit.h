// What the checker prints and writes: the lines of each child's checks, the
// table over all children and the same results as JSON for a gradebook and
// as JUnit XML for a CI system.
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

// The child's lines: a heading, then one line per check (Windows-1251, no line ends).
std::vector<std::string> ChildReportLines(const ChildReport& report);

// The table: a heading and a row per child with a column per check.
std::vector<std::string> TableLines(const std::vector<ChildReport>& reports);

// True when every child passed every check.
bool EveryChildPassed(const std::vector<ChildReport>& reports);

// The whole result as JSON (UTF-8, LF line ends), one child per line.
std::string JsonReport(int dataSet, const std::vector<ChildReport>& reports);

// The whole result as JUnit XML (UTF-8), as CI systems read it: a test suite
// per child, named after the program as typed, a test case per check named
// by its key, a failure with the detail for a failed check, skipped for one
// not judged.
std::string JunitReport(int dataSet, const std::vector<ChildReport>& reports);
