// Progress displays driven by the WRITE command: phase 0 starts with the total number
// of bytes, phase 1 reports the bytes done so far, phase 2 finishes.
#pragma once

#include <atomic>

enum ProgressPhase { PROGRESS_START = 0, PROGRESS_UPDATE = 1, PROGRESS_FINISH = 2 };

using ProgressDisplay = void (*)(int phase, long value);

// The display the WRITE command calls; the spinner until WRITE installs another.
extern ProgressDisplay ProgressHook;

void ProgressBar(int phase, long value);             // 30-column bar on standard output
void ProgressSpinner(int phase, long value);         // - \ | / in place
void ProgressDaemonCounters(int phase, long value);  // feeds the daemon's BUSY line

// The daemon counters in kiB, read by the command server: done and total.
extern std::atomic<int> g_progressKibDone;
extern std::atomic<int> g_progressKibTotal;

// Number of '#' columns of the bar for the given bytes done out of total.
int ProgressBarColumns(long total, long done);
