// herdboss1: the herd launcher. It asks how many elephants take part, lets
// the user adjust one of them, starts a tusker1 process per elephant in its
// own priority class, gives the herd 25 seconds and then reports which
// elephants finished and ends the ones still running.
#include "herd_launcher.h"

#include "cp1251_unit.h"
#include "errors_unit.h"
#include "locale_unit.h"

std::array<HerdRecord, kHerdSize> herdTable = kBuiltInHerd;
std::array<ChildSlot<HerdRecord>, kHerdSize> slots;

const std::string_view childProgramName = "tusker1"_cp1251;
const DWORD creationFlags = CREATE_UNICODE_ENVIRONMENT;
std::int32_t startedCount = 0;
std::int32_t processCount = 0;

namespace {

void Run() {
    RunDialogue();
    LaunchHerd();
    if (startedCount == 0) {
        return;  // nothing to wait for or to report
    }
    WaitAndReap();
}

}  // namespace

int main() {
    ReadLocaleSettings();
    // An error that escapes (only the final entry can raise one) is reported
    // on standard output, in the launcher's own form.
    return RunProgram(ReportForm::kHerdLauncher, Run);
}
