#include "cli/progress.hpp"

#include <cstdio>

#include "cli/exit.hpp"
#include "cli/run_flags.hpp"

namespace {
constexpr int kBarColumns = 30;

struct ProgressState {
    ProgressDisplay display = ProgressSpinner;
    long barTotal = 0;
    int barDrawn = -1;
    unsigned spinnerFrame = 0;
    // The daemon's counters: the command server's threads read them while a write runs.
    std::atomic<int> kibDone{0};
    std::atomic<int> kibTotal{100};
};
ProgressState g_progress;  // the one display of the running command

// A set abort flag stops the running write here: the display is closed and the
// process ends with exit code 1.
void StopIfAborted(ProgressDisplay self) {
    if (!g_flags.abort.exchange(false)) return;
    self(PROGRESS_FINISH, 0);
    AppExit(1);
}
}  // namespace

int ProgressBarColumns(long total, long done) {
    // An empty image is complete from the start: the full bar instead of a division by 0.
    if (total <= 0) return kBarColumns;
    long long t = total, d = done;
    return static_cast<int>((((t / 200) + 100 * d) * kBarColumns / t) / 100);
}

void ProgressHook(int phase, long value) { g_progress.display(phase, value); }
void ProgressInstall(ProgressDisplay display) { g_progress.display = display; }
int ProgressKibDone() { return g_progress.kibDone; }
int ProgressKibTotal() { return g_progress.kibTotal; }

void ProgressBar(int phase, long value) {
    long& total = g_progress.barTotal;
    int& drawn = g_progress.barDrawn;
    long done = value;
    if (phase == PROGRESS_START) {
        total = value;
        drawn = -1;
        done = 0;
    } else if (phase == PROGRESS_UPDATE) {
        StopIfAborted(ProgressBar);
    } else {
        done = total;
    }
    int columns = ProgressBarColumns(total, done);
    while (columns > drawn) {
        char bar[kBarColumns + 1];
        for (int i = 0; i < kBarColumns; ++i) bar[i] = i < columns ? '#' : '.';
        bar[kBarColumns] = '\0';
        printf("\r[%s]", bar);
        if (done != 0) {
            if (done < 1024) printf(" %li", done);
            else printf(" %likiB", (done + 512) / 1024);
        }
        // An empty image has no steps to grow through: its full bar is drawn once.
        drawn = total <= 0 ? columns : drawn + 1;
    }
    fflush(stdout);
}

void ProgressSpinner(int phase, long) {
    unsigned& counter = g_progress.spinnerFrame;
    if (phase == PROGRESS_START) {
        fputs("-", stdout);
        counter = 1;
    } else if (phase == PROGRESS_UPDATE) {
        StopIfAborted(ProgressSpinner);
        static const char* const kFrames[] = {"\b-", "\b\\", "\b|", "\b/"};
        fputs(kFrames[counter++ % 4], stdout);
    } else {
        fputs("\b ", stdout);
    }
    fflush(stdout);
}

void ProgressDaemonCounters(int phase, long value) {
    if (phase == PROGRESS_START) {
        g_progress.kibTotal = static_cast<int>((value + 512) / 1024);
        g_progress.kibDone = 0;
    } else if (phase == PROGRESS_UPDATE) {
        StopIfAborted(ProgressDaemonCounters);
        g_progress.kibDone = static_cast<int>((value + 512) / 1024);
    } else {
        g_progress.kibDone = g_progress.kibTotal.load();
    }
}
