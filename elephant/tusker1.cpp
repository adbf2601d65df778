// tusker1: one elephant of the herd. It announces itself with the name of
// the priority class it runs in, searches for water for a random time that
// is shorter the older it is, drinks for a time that grows with its weight,
// and ends. Its only input is its command line: name, age, weight.
#include <cstdint>
#include <string>
#include <string_view>

#include "a0wait_unit.h"
#include "a1wait_unit.h"
#include "command_line_unit.h"
#include "curtime_unit.h"
#include "elephant_unit.h"
#include "errors_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "number_text_unit.h"
#include "priority_unit.h"
#include "program_lines_unit.h"
#include "win32.h"

namespace {

// ---- Texts and constants ------------------------------------------------------
// Windows-1251; every line is an event line.
constexpr std::string_view kSearchStarted = kElephantSearchLine;
constexpr std::string_view kFoundWater = kElephantFoundLine;
constexpr std::string_view kHasDrunk = kElephantDrunkLine;

// ---- Module state -------------------------------------------------------------
// The elephant's parameters, filled once from the command line.
ElephantRecord elephant;

// Name of the class the elephant runs in; empty until looked up, set once.
std::string_view priorityName;

// ---- Steps --------------------------------------------------------------------

// Argument 1 is the name, 2 the age, 3 the weight. The age is converted
// before the weight, so a report names the first argument that failed.
void ReadArguments() {
    SetElephantName(elephant, CommandArgument(1));
    elephant.age = TextToInteger(CommandArgument(2));
    elephant.weight = TextToFloat(CommandArgument(3));
}

void PrintEvent(std::string_view format) {
    PrintLine(format, {CurrentTimeText(), ElephantName(elephant)});
}

// The elephant's run, step by step.
void Run() {
    // 1. The command line; a bad argument ends the run before anything else.
    ReadArguments();
    // 2. The start line with the class the elephant really runs in.
    priorityName = OwnPriorityName();
    PrintLine(kSearchStarted, {CurrentTimeText(), ElephantName(elephant), priorityName});
    // 3. The search: shorter the older the elephant is.
    RandomSpinWait(SearchBound(elephant.age));
    PrintEvent(kFoundWater);
    // 4. The drinking: longer the heavier it is.
    SpinWait(DrinkingUnits(elephant.weight));
    PrintEvent(kHasDrunk);
}

}  // namespace

int main() {
    ReadLocaleSettings();
    return RunProgram(ReportForm::kStandardError, Run);
}
