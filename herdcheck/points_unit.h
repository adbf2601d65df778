// The points each check is worth, for the result files a gradebook reads
// (JSON, JUnit, Gradescope): one point each, or what the teacher's points
// file says.
//
// The points file is text, one check a line: the check's key (as in the
// JSON and JUnit files) and its points, a number from 0 to 1000 with at most
// two decimals (a point or a comma). Blank lines and lines starting with '#'
// are left out; a check the file does not name keeps its one point:
//
//   # the waiting check counts double, the slow feeder half
//   waits_politely        2
//   survives_slow_feeder  0.5
#pragma once

#include <string>
#include <string_view>

#include "verdict_unit.h"

// Points in hundredths, so that sums stay exact.
struct CheckPoints {
    int hundredths[kCheckCount] = {100, 100, 100, 100, 100, 100, 100, 100};
};
static_assert(kCheckCount == 8, "one point for each check above");

// Reads a points file's text (UTF-8 or Windows-1251; keys are ASCII) into
// `points`. Empty text when it is right, else what is wrong and on which line
// (Windows-1251), e.g. "строка 3: неизвестная проверка «wait»".
std::string ReadCheckPoints(std::string_view text, CheckPoints& points);

// Points as a JSON number: "1", "0.5", "2.25".
std::string PointsNumber(int hundredths);

// The points a child earned: those of every check it passed.
int EarnedHundredths(const CheckResult (&results)[kCheckCount], const CheckPoints& points);
int MostHundredths(const CheckPoints& points);
