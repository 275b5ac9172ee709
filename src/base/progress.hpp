// Progress displays driven by the WRITE command: phase 0 starts with the total number
// of bytes, phase 1 reports the bytes done so far, phase 2 finishes.
#pragma once

#include <atomic>

enum ProgressPhase { PROGRESS_START = 0, PROGRESS_UPDATE = 1, PROGRESS_FINISH = 2 };

using ProgressDisplay = void (*)(int phase, long value);

// Reports to the installed display: the spinner until WRITE installs another.
void ProgressHook(int phase, long value);
void ProgressInstall(ProgressDisplay display);

void ProgressBar(int phase, long value);             // 30-column bar on standard output

// Plain progress for logs: the bar and the connect countdown write lines instead of
// frames redrawn with carriage returns (a line when a write starts and one when it
// ends, every 10 % between when it runs for more than a few seconds).
void ProgressSetPlain(bool plain);
bool ProgressPlain();
void ProgressSpinner(int phase, long value);         // - \ | / in place
void ProgressDaemonCounters(int phase, long value);  // feeds the daemon's BUSY line

// The daemon counters in kiB, read by the command server's threads.
int ProgressKibDone();
int ProgressKibTotal();

// Number of '#' columns of the bar for the given bytes done out of total.
int ProgressBarColumns(long total, long done);
