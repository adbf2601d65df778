// herdboss2 and herdboss6: the shared-memory feeders, one program built
// twice. Each starts eight children, each in a drawn priority class and with
// a ring of eight one-byte slots in a named shared block, fills empty slots
// until every child has its ration or 30 seconds have passed, then reports
// which children ended and ends the others.
//
// HERDLAB_FEEDER_DATA picks the data set, which holds the build's herd and
// all its texts: 2 for the numbered processes, 6 for the named elephants.
// The module state and the steps are in feeder_unit.
#include "curtime_unit.h"
#include "errors_unit.h"
#include "feeder_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "random_unit.h"
#include "win32.h"

// ---- Texts and constants ------------------------------------------------------
#if HERDLAB_FEEDER_DATA == 2
const FeederBuildData kFeederBuild = kNumberedProcessesBuild;
#elif HERDLAB_FEEDER_DATA == 6
const FeederBuildData kFeederBuild = kNamedElephantsBuild;
#else
#error "HERDLAB_FEEDER_DATA must be 2 or 6"
#endif

// ---- Steps --------------------------------------------------------------------
namespace {

// The feeder's run, step by step.
void FeedTheHerd() {
    // 1. The greeting.
    Reseed();
    PrintLine(kFeederBuild.greetingLine, {CurrentTimeText()});
    // 2. The launch: a cleared block per child, then the child itself.
    StartupInfo.cb = sizeof(STARTUPINFOA);
    if (LaunchFeederHerd() > 0) {
        // 3. The feeding loop until all are fed or the deadline passes.
        FeedHerd();
        // 4. The reaping pass: ended children reported, the others ended.
        ReapFeederHerd();
    }
    // 5. The blocks are released even with no child started, so no name
    //    outlives the program.
    ReleaseFeedRings();
}

}  // namespace

int main() {
    ReadLocaleSettings();
    return RunProgram(ReportForm::kStandardError, FeedTheHerd);
}
