// The thread-message protocol between the monitor (taskwarden) and its
// staged workers (stageworker). Both programs link this module: it holds the
// message ids, both message threads with their handlers, and the data each
// message thread shares with its program's main thread.
//
//   WM_USER   worker main -> monitor   wParam number, lParam worker's thread id
//   WM_MYUSR1 monitor main -> worker   end request (0, 0)
//   WM_MYUSR1 worker -> monitor        answer from the first stage (number, 0)
//   WM_MYUSR2 worker -> monitor        answer from the second stage (number, 0)
//   WM_MYTERM monitor -> worker        end order (0, 0)
#pragma once

#include <atomic>
#include <cstdint>

#include "process_unit.h"
#include "win32.h"

// ---- Both sides ---------------------------------------------------------------

// Registered ids of "WM_MYUSR1", "WM_MYTERM" and "WM_MYUSR2"; 0 until
// RegisterMessages. Written before the message thread starts, read-only after.
extern UINT WM_MYUSR1;
extern UINT WM_MYTERM;
extern UINT WM_MYUSR2;

// Registers the three names, in this order, and keeps their ids.
void RegisterMessages();

// Starts `procedure` as the program's message thread and yields once, so the
// thread can open its queue before anybody posts to it. Returns its id.
DWORD StartMessageThread(LPTHREAD_START_ROUTINE procedure);

// ---- The worker's decision on the end order --------------------------------------

// A second-stage worker that is at most this many ms from the planned end of
// its latest wait is reprieved.
inline constexpr std::uint32_t kReprieveLimit = 1000;

// How far the latest wait is from its planned end, in ms: |elapsed - duration|
// where elapsed = now - stamp modulo 2^32 (right across a wrap of the tick
// counter). Formed in 64 bits, so no operand can overflow it.
std::uint32_t WaitFactor(DWORD now, DWORD stamp, std::int32_t duration);

// True when a worker in `stageFlag` with `waitFactor` may finish its stage:
// second stage (flag 1) and a factor of at most kReprieveLimit.
bool EarnsReprieve(std::int32_t stageFlag, std::uint32_t waitFactor);

// ---- Monitor side -------------------------------------------------------------

// Workers are numbered 1..kMaxWorkers.
inline constexpr int kMaxWorkers = 15;

// Slot states the message thread adds to kNotStarted and kStarted.
inline constexpr std::int32_t kEndedByMonitor = 1;  // answered from its first stage; ended
inline constexpr std::int32_t kToldToEnd = 2;       // answered from its second stage; ordered

// Entry 0: the monitor's own message thread; entry k: worker k's message
// thread once its registration has arrived, 0 until then.
extern std::atomic<DWORD> ThreadIds[kMaxWorkers + 1];

// Slot k - 1 belongs to worker k. The main thread fills a slot at launch and
// publishes it by storing kStarted into `state`; the message thread acts on a
// slot only after reading a started state.
extern ChildSlot<ProcessRecord> WorkerSlots[kMaxWorkers];

// Marks every slot not started; called before the message thread starts, so
// an answer for a worker that never ran is recognised and ignored.
void ResetWorkerSlots();

// Ends worker `number` (1..kMaxWorkers) and reports it ended by force, unless
// its slot has left the started state (not started, or its answer handled):
// whichever of the two threads comes first does it, once. True when it did.
bool EndWorkerAsForced(int number);

// The monitor's handling of one message. A wParam outside 1..kMaxWorkers is
// ignored, as are answers for a slot that holds no started worker.
void HandleMonitorMessage(const MSG& message);

// The monitor's message thread: GetMessageA loop over HandleMonitorMessage.
DWORD WINAPI MonitorMessageThread(LPVOID parameter);

// ---- Worker side --------------------------------------------------------------

// The worker's own record and the monitor's thread id: written from the
// command line before the message thread starts, read-only after.
extern ProcessRecord WorkerParams;
extern DWORD monitorThreadId;

// 0 until the first stage's wait has ended, 1 from then on.
extern std::atomic<std::int32_t> stageFlag;

// The worker's handling of one message. An end order that does not earn the
// reprieve ends the whole worker process with exit status 0.
void HandleWorkerMessage(const MSG& message);

// The worker's message thread: GetMessageA loop over HandleWorkerMessage.
DWORD WINAPI WorkerMessageThread(LPVOID parameter);
