// What the checker prints and writes: the lines of each child's checks, the
// table over all children and the same results, with the points of each
// check, as JSON for a gradebook, as JUnit XML for a CI system and as
// Gradescope's results file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "format_unit.h"
#include "points_unit.h"
#include "verdict_unit.h"

struct ChildReport {
    std::string program;      // as typed (Windows-1251)
    std::string commandLine;  // what the child was given (Windows-1251)
    CheckResult results[kCheckCount];
};

// Prints a line of the checker's output as PrintLine does, but a write that
// fails (a closed or full output, a reader that went away) is let go: the
// checks go on, and the result files, which matter more, are still written.
void ShowLine(std::string_view format, std::initializer_list<FormatValue> values = {});

// The child's lines: a heading, then one line per check (Windows-1251, no line ends).
std::vector<std::string> ChildReportLines(const ChildReport& report);

// The table: a heading and a row per child with a column per check.
std::vector<std::string> TableLines(const std::vector<ChildReport>& reports);

// True when every child passed every check.
bool EveryChildPassed(const std::vector<ChildReport>& reports);

// The whole result as JSON (UTF-8, LF line ends), one child per line, with
// the points of each check and each child's score.
std::string JsonReport(int dataSet, const std::vector<ChildReport>& reports,
                       const CheckPoints& points);

// The whole result as JUnit XML (UTF-8), as CI systems read it: a test suite
// per child, named after the program as typed, a test case per check named
// by its key, a failure with the detail for a failed check, skipped for one
// not judged; scores as properties of the suites and cases.
std::string JunitReport(int dataSet, const std::vector<ChildReport>& reports,
                        const CheckPoints& points);

// Gradescope's results file (UTF-8): the score, a test per child and check
// with its points, status and what was seen, and the table as the output.
std::string GradescopeReport(const std::vector<ChildReport>& reports, const CheckPoints& points);
