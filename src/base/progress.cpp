#include "base/progress.hpp"

#include <cstdio>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/run_flags.hpp"
#include "base/status_report.hpp"
#include "platform/process.hpp"

namespace {
constexpr int kBarColumns = 30;

struct ProgressState {
    ProgressDisplay display = ProgressSpinner;
    long barTotal = 0;
    int barDrawn = -1;
    unsigned spinnerFrame = 0;
    bool plain = false;
    uint32_t plainStart = 0;  // when the plain display started (ms)
    int plainTenth = 0;       // the last tenth it showed
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

void ProgressHook(int phase, long value) {
    StatusReportProgress(phase, value);
    g_progress.display(phase, value);
}
void ProgressInstall(ProgressDisplay display) { g_progress.display = display; }
int ProgressKibDone() { return g_progress.kibDone; }
int ProgressKibTotal() { return g_progress.kibTotal; }

void ProgressSetPlain(bool plain) { g_progress.plain = plain; }
bool ProgressPlain() { return g_progress.plain; }

namespace {
constexpr uint32_t kPlainQuietMs = 3000;  // a write shorter than this shows no steps

void PlainProgress(int phase, long value) {
    long& total = g_progress.barTotal;
    if (phase == PROGRESS_START) {
        total = value;
        g_progress.plainStart = TickCountMs();
        g_progress.plainTenth = 0;
        // The line the command started ("Writing.") has ended: no line feed first.
        MsgPrint(MSG_RAW, "  0 %% of %ld bytes", total);
        return;
    }
    if (phase == PROGRESS_FINISH) {
        MsgPrint(MSG_PLAIN, "100 %% of %ld bytes", total);
        return;
    }
    StopIfAborted(ProgressBar);
    int tenth = total > 0 ? static_cast<int>(value * 10 / total) : 10;
    if (tenth > g_progress.plainTenth && tenth < 10 && TickCountMs() - g_progress.plainStart >= kPlainQuietMs) {
        g_progress.plainTenth = tenth;
        MsgPrint(MSG_PLAIN, "%3d %% of %ld bytes", tenth * 10, total);
    }
}
}  // namespace

void ProgressBar(int phase, long value) {
    if (g_progress.plain) {
        PlainProgress(phase, value);
        return;
    }
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
