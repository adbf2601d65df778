// herdboss2 and herdboss6: one program, built twice. HERDLAB_FEEDER_DATA
// picks the data set: 2 for the numbered processes, 6 for the named elephants.
#include "curtime_unit.h"
#include "errors_unit.h"
#include "feeder_unit.h"
#include "locale_unit.h"
#include "myProcedure_unit.h"
#include "random_unit.h"
#include "win32.h"

#if HERDLAB_FEEDER_DATA == 2
#include "feeder_data_2.h"
const FeederBuildData kFeederBuild = kNumberedProcessesBuild;
#elif HERDLAB_FEEDER_DATA == 6
#include "feeder_data_6.h"
const FeederBuildData kFeederBuild = kNamedElephantsBuild;
#else
#error "HERDLAB_FEEDER_DATA must be 2 or 6"
#endif

namespace {

void FeedTheHerd() {
    Reseed();
    PrintLine(kFeederBuild.greetingLine, {CurrentTimeText()});
    startupInfo.cb = sizeof(STARTUPINFOA);
    if (LaunchFeederHerd() > 0) {
        FeedHerd();
        ReapFeederHerd();
    }
    // With no child started there is nothing to feed or report, but the
    // blocks are still released, so no name outlives the program.
    ReleaseFeedRings();
}

}  // namespace

int main() {
    ReadLocaleSettings();
    return RunProgram(ReportForm::kStandardError, FeedTheHerd);
}
