// herdboss1: the herd launcher. It asks how many elephants take part, lets
// the user adjust one of them, starts a tusker1 process per elephant in its
// own priority class, gives the herd 25 seconds and then reports which
// elephants finished and ends the ones still running.
#include "herd_launcher.h"

#include "cp1251_unit.h"
#include "errors_unit.h"
#include "locale_unit.h"

// ---- Texts and constants ------------------------------------------------------
const std::string_view ChildProgramName = "tusker1"_cp1251;
const DWORD CreationFlags = CREATE_UNICODE_ENVIRONMENT;

// ---- Module state -------------------------------------------------------------
// Shared by the dialogue (herd_dialogue.cpp) and the launch and reaping
// (herd_launch.cpp), which hold the texts and steps of their own.
std::array<HerdRecord, kHerdSize> HerdTable = kBuiltInHerd;
std::array<ChildSlot<HerdRecord>, kHerdSize> Slots;
std::int32_t StartedCount = 0;
std::int32_t ProcessCount = 0;

// ---- Steps --------------------------------------------------------------------
namespace {

// The herd launcher's run, step by step.
void Run() {
    // 1. The dialogue: greeting, count, listing with drawn classes, one edit.
    RunDialogue();
    // 2. The launch; with no elephant started there is nothing to report.
    LaunchHerd();
    if (StartedCount == 0) {
        return;
    }
    // 3. The fixed wait, the reaping pass and the final entry.
    WaitAndReap();
}

}  // namespace

int main() {
    ReadLocaleSettings();
    // An error that escapes (only the final entry can raise one) is reported
    // on standard output, in the launcher's own form.
    return RunProgram(ReportForm::kHerdLauncher, Run);
}
