#include "base/status_report.hpp"

#include <mutex>
#include <string>

#include "base/progress.hpp"
#include "base/text.hpp"
#include "platform/process.hpp"

namespace {
// An event stays well below what a pipe takes in one piece.
constexpr size_t kMaxText = 400;

struct ReportState {
    bool attached = false;
    std::string lastEvent;  // a repeated phase (each failed connect attempt) is sent once
    long long total = 0;    // of the running progress display
    long long percent = -1; // the percent last sent
    std::mutex errorLock;   // the ERROR may come from the interrupt thread
    std::string error;
};
ReportState g_report;  // the one channel of this process to its supervisor

// A text travels as the rest of its line: a line end inside it would end the event.
std::string OneLine(const std::string& text) {
    std::string line = text.substr(0, kMaxText);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return line;
}

void Send(const std::string& event) {
    g_report.lastEvent = event;
    SendStatusLine(event);
}

void SendProgress(long long done) {
    Send(std::string(kStatusProgress) + " " + std::to_string(done) + " " + std::to_string(g_report.total));
}
}  // namespace

bool StatusReportTo(const char* channel) { return g_report.attached = AttachStatusChannel(channel); }

void StatusReportPhase(const char* phase) {
    if (!g_report.attached) return;
    const std::string event = std::string(kStatusPhase) + " " + phase;
    if (event != g_report.lastEvent) Send(event);
}

void StatusReportConnected(const char* reply) {
    if (!g_report.attached) return;
    // The reply may go on with more lines (a boot code version): the part comes first.
    std::string part;
    for (const std::string& line : SplitFields(reply, '\n'))
        if (!(part = Trimmed(line)).empty()) break;
    Send(std::string(kStatusConnected) + " " + OneLine(part));
}

void StatusReportProgress(int phase, long value) {
    if (!g_report.attached) return;
    if (phase == PROGRESS_START) {
        g_report.total = value;
        g_report.percent = 0;
        SendProgress(0);
    } else if (phase == PROGRESS_UPDATE) {
        long long percent = g_report.total > 0 ? value * 100LL / g_report.total : 100;
        if (percent == g_report.percent) return;
        g_report.percent = percent;
        SendProgress(value);
    } else {
        g_report.percent = 100;
        SendProgress(g_report.total);
    }
}

void StatusNoteError(const char* text) {
    if (!g_report.attached) return;
    std::lock_guard<std::mutex> lock(g_report.errorLock);
    g_report.error = OneLine(Trimmed(text));
}

void StatusReportEnd(int code) {
    if (!g_report.attached) return;
    std::lock_guard<std::mutex> lock(g_report.errorLock);
    SendStatusLine(std::string(kStatusResult) + " " + std::to_string(ExitCodeSeenByParent(code)) + " " + g_report.error);
}
