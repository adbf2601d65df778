// The monitor told to end (its final line) before the workers it asked to end
// have answered: it waits a bounded while for their answers, then ends every
// first-stage worker that has not answered and reports it, so none outlives it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

// The forced-end line of worker `number`, after its time stamp.
std::string ForcedEnd(int number) {
    return "Процесс " + std::string(number < 10 ? " " : "") + std::to_string(number) +
           " - завершен принудительно.";
}

// Two workers, the first observed with a first stage far longer than the
// 2 s wait, and the final Enter already typed: it reaches the monitor right
// after the time-out, before any answer. The first stage's length is random
// below its parameter: below 2^31 - 1 ms it is shorter than 2 s once in a
// million runs (below 100000 ms it was once in fifty).
TEST(MonitorEnd, FinalLineBeforeTheAnswersLeavesNoFirstStageWorkerRunning) {
    harness::Session session = harness::Start("taskwarden");
    harness::Send(session, "2\n1\n2147483647\n1\n2\n2\n\n");
    harness::CloseInput(session);
    ASSERT_FALSE(harness::StillRunningAfter(session, 60s));
    // Killed workers go at once; a second-stage worker reprieved by its end
    // order finishes within a second of its planned end.
    EXPECT_EQ(harness::LeftoverProcesses(session, harness::kLeftoverGrace), std::vector<pid_t>{})
        << session.outputText;
    harness::Finish(session, 5s);
    EXPECT_EQ(session.exitCode, 0);
    const std::vector<std::string> lines = harness::Lines(session.outputText);
    bool workerOneForced = false;
    for (const std::string& line : lines) {
        workerOneForced = workerOneForced || harness::IsEventLine(line, ForcedEnd(1));
    }
    EXPECT_TRUE(workerOneForced) << session.outputText;
}

}  // namespace
