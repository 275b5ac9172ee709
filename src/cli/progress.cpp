#include "cli/progress.hpp"

#include <cstdio>

#include "cli/exit.hpp"
#include "cli/run_flags.hpp"

ProgressDisplay ProgressHook = ProgressSpinner;
std::atomic<int> g_progressKibDone{0};
std::atomic<int> g_progressKibTotal{100};

namespace {
constexpr int kBarColumns = 30;

// A set abort flag stops the running write here: the display is closed and the
// process ends with exit code 1.
void StopIfAborted(ProgressDisplay self) {
    if (!g_abort.exchange(false)) return;
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

void ProgressBar(int phase, long value) {
    static long total = 0;
    static int drawn = -1;
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
    static unsigned counter = 0;
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
        g_progressKibTotal = static_cast<int>((value + 512) / 1024);
        g_progressKibDone = 0;
    } else if (phase == PROGRESS_UPDATE) {
        StopIfAborted(ProgressDaemonCounters);
        g_progressKibDone = static_cast<int>((value + 512) / 1024);
    } else {
        g_progressKibDone = g_progressKibTotal.load();
    }
}
