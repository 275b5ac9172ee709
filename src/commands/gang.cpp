// GANG: the commands after it run once per port, in parallel, each in a Vorlo process of
// its own (one port, one image, one process, as Vorlo is built), under this process as
// their supervisor. The commands before it ran here once: the children get the settings
// they left (driver, connection fields, lines, key, time-out, ISP request) and the
// prepared image as a file of its own, never the original code file, so that a file
// changed during the run cannot give two fixtures different firmware. The children tell
// where they stand over a status channel each, never through the text they print.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/command_stream.hpp"
#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/run_flags.hpp"
#include "base/status_report.hpp"
#include "base/text.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"
#include "image/code_formats.hpp"
#include "image/code_image.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "serial/line_control.hpp"
#include "serial/port_list.hpp"

namespace {
constexpr size_t kMaxPorts = 64;
constexpr uint32_t kPollMs = 100;
constexpr uint32_t kStopGraceMs = 5000;  // a child asked to stop restores its port in this time
// A write shorter than this shows no steps between 0 and 100 %, as in a child's plain
// progress: a log of the gang gets no line per percent of a short write.
constexpr uint32_t kQuietProgressMs = 3000;

struct Member {
    std::string port;
    int pid = -1;
    StatusChannel channel;
    std::string events;  // what came on the channel and is not a whole line yet
    std::string state = "starting";
    std::string target;   // what the target told at the connect
    std::string message;  // the error the run ended with
    bool ended = false;
    int code = 0;
    uint32_t start = 0, end = 0;
    bool reported = false;  // the child told how it ended
    int reportedCode = 0;
    std::string reportedError;
    uint32_t stopAsked = 0;  // when it was asked to stop after its time (0: not asked)
    long bytesDone = 0, bytesTotal = 0;
    uint32_t progressStart = 0;
    std::string phase = "writing";
};

struct GangState {
    std::string report;  // --gangreport: JSON lines of the summary
    int timeoutSeconds = 0;
    std::string dir;     // the running gang's folder ("" when none runs)
    std::vector<Member> members;
};
GangState g_gang;  // one gang runs at a time

// The ports: a list, AUTO[(filter)] for every listed port that matches, or @FILE.
std::vector<std::string> ResolvePorts(const std::string& value) {
    std::vector<std::string> ports;
    const std::string upper = UpperCase(value);
    if (upper.rfind("AUTO", 0) == 0) {
        std::string filter;
        size_t open = value.find('('), close = value.find(')');
        if (open != std::string::npos && close != std::string::npos && close > open)
            filter = value.substr(open + 1, close - open - 1);
        PortEnumerate(filter.c_str(), false, true, true);
        while (const char* name = PortTakeNext()) ports.insert(ports.begin(), name);
    } else if (!value.empty() && value[0] == '@') {
        FILE* file = FileOpen(value.c_str() + 1, "rt");
        char line[512];
        while (fgets(line, sizeof line, file)) {
            std::string port = Trimmed(line);
            if (!port.empty() && port[0] != '#') ports.push_back(port);
        }
        fclose(file);
    } else {
        for (const std::string& item : SplitFields(value))
            if (!Trimmed(item).empty()) ports.push_back(Trimmed(item));
    }
    if (ports.empty()) MsgError("No ports for --gang (%s).", value.c_str());
    if (ports.size() > kMaxPorts) MsgError("--gang takes at most %zu ports, not %zu.", kMaxPorts, ports.size());
    // A port named twice, also under another name (a /dev/serial/by-id link), would be
    // opened by two children at once.
    std::vector<std::string> real;
    for (const std::string& port : ports) {
        std::string canonical = CanonicalPath(port);
        if (canonical.empty()) canonical = port;
        for (size_t i = 0; i < real.size(); ++i)
            if (real[i] == canonical) MsgError("Port %s is named twice in --gang (also as %s).", port.c_str(), ports[i].c_str());
        real.push_back(canonical);
    }
    return ports;
}

std::string Hex(const uint8_t* bytes, unsigned n) {
    std::string text;
    char two[3];
    for (unsigned i = 0; i < n; ++i) {
        snprintf(two, sizeof two, "%02X", bytes[i]);
        text += two;
    }
    return text;
}

std::string LineArg(const char* option, const ControlLine& line) {
    if (line.kind == LINE_GPIO && line.gpio < 0) return "";
    std::string name = line.kind == LINE_DTR ? "DTR" : line.kind == LINE_RTS ? "RTS" : "CP2103GPIO_" + std::to_string(line.gpio);
    return std::string(option) + "=" + name + "," + (line.activeHigh ? "1" : "0");
}

// What the commands before GANG left in this process, as options for a child.
std::vector<std::string> SettingsArgs(const std::string& port) {
    std::vector<std::string> args = {"--progress=plain"};
    if (const DriverRow* row = CurrentDriverRow()) {
        std::string driver = std::string("--driver=") + row->keyword;
        if (*DriverOptions()) driver += std::string(",") + DriverOptions();
        args.push_back(driver);
    }
    // The connection's fields behind its port (an AUTO string's behind its first comma).
    const std::string connection = ConnectionString();
    size_t comma = connection.find_first_of(connection.rfind("AUTO", 0) == 0 ? "," : ", ");
    args.push_back("--connection=" + port + (comma == std::string::npos ? ",9600,8,N,1" : connection.substr(comma)));
    const std::string key = ConnectKey();
    if (!key.empty()) {
        args.push_back("--seckey=" + key.substr(0, 17));
        if (key.size() > 17) args.push_back("--bootldr=" + key.substr(17));
    }
    if (ConnectTimeout() != 0) args.push_back("--contout=" + std::to_string(ConnectTimeout()));
    if (Run().compress) args.push_back("--compress");
    for (const std::string& line : {LineArg("--resetctrl", ResetLine()), LineArg("--pgmenctrl", PgmEnLine())})
        if (!line.empty()) args.push_back(line);
    args.push_back("--resettime=" + std::to_string(ResetTimeMs()));
    args.push_back("--ispholdtime=" + std::to_string(IspHoldTimeMs()));
    const IspRequest& isp = IspRequestGet();
    if (isp.requestCount) {
        std::string request = "--reqisp=" + Hex(isp.request, isp.requestCount);
        if (isp.responseCount) request += "," + Hex(isp.response, isp.responseCount);
        args.push_back(request);
    }
    return args;
}

// The image as the children load it: S3 records, whose 32-bit addresses need no segment
// records, byte for byte the records of the image (no padding) and its entry address.
std::string WriteImage(const std::string& dir) {
    std::string path = dir + "/image.s37";
    CodeImage image = ProgramCode();
    CodeCompact(image);
    CodeSplit(image, 32);
    FILE* file = FileOpen(path.c_str(), "wb");
    int status = SRecordExport(file, image, FORMAT_MOTSREC32);
    if (fclose(file) != 0 || status != CODE_OK) MsgError("Can't write the gang's image (%s).", CodeStatusText(status));
    return path;
}

void RemoveDir(const std::string& dir) {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

// On every way out (Ctrl+C included): every child is asked to stop, which restores its
// port and deletes its own files, then the gang's folder goes.
void StopGang() {
    bool any = false;
    for (Member& m : g_gang.members)
        if (!m.ended && m.pid > 0) {
            StopChild(m.pid);
            any = true;
        }
    for (uint32_t start = TickCountMs(); any && TickCountMs() - start < kStopGraceMs;) {
        any = false;
        for (Member& m : g_gang.members)
            if (!m.ended && !(m.ended = ChildEnded(m.pid, m.code))) any = true;
        if (any) SleepMs(20);
    }
    for (Member& m : g_gang.members) {
        if (!m.ended) {
            KillChild(m.pid);
            ChildEnded(m.pid, m.code);
            m.ended = true;
        }
        CloseStatusChannel(m.channel);
    }
    RemoveDir(g_gang.dir);
    g_gang.dir.clear();
}

// One event of a child (base/status_report.hpp lists them).
void Apply(Member& m, const std::string& event) {
    const size_t blank = event.find(' ');
    const std::string word = event.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : Trimmed(event.substr(blank + 1));
    if (word == kStatusResult) {
        m.reported = true;
        m.reportedCode = atoi(rest.c_str());
        const size_t text = rest.find(' ');
        m.reportedError = text == std::string::npos ? "" : Trimmed(rest.substr(text));
        return;
    }
    if (m.stopAsked) return;  // it stops: what it still says does not change that
    if (word == kStatusPhase) {
        m.state = rest;
        if (rest != "connecting" && rest != "erasing") m.phase = rest;
    } else if (word == kStatusConnected) {
        m.state = "connected";
        if (!rest.empty()) m.target = rest;
    } else if (word == kStatusProgress) {
        long long done = 0, total = 0;
        if (sscanf(rest.c_str(), "%lld %lld", &done, &total) != 2) return;
        if (done == 0) m.progressStart = TickCountMs();
        m.bytesDone = static_cast<long>(done);
        m.bytesTotal = static_cast<long>(total);
        int percent = done >= total ? 100 : static_cast<int>(done * 10 / total * 10);
        if (percent < 100 && TickCountMs() - m.progressStart < kQuietProgressMs) percent = 0;
        m.state = m.phase + " " + std::to_string(percent) + " %";
    }
}

// What a child reported since the last look.
void Follow(Member& m) {
    ReadStatusChannel(m.channel, m.events);
    for (size_t end; (end = m.events.find('\n')) != std::string::npos; m.events.erase(0, end + 1))
        Apply(m, m.events.substr(0, end));
}

// How a child ended: as it reported, or, when it could not (it crashed or was killed),
// as the system tells.
void Finish(Member& m, int systemCode) {
    m.ended = true;
    m.end = TickCountMs();
    Follow(m);
    CloseStatusChannel(m.channel);
    m.code = m.reported ? m.reportedCode : systemCode;
    m.state = m.code == 0 ? "done" : "FAILED";
    if (m.code != 0) {
        m.message = m.reportedError;
        if (!m.reported && m.code < 0) m.message = "killed by signal " + std::to_string(-1 - m.code);
        if (m.message.empty()) m.message = "ended with exit code " + std::to_string(m.code);
    }
    if (m.stopAsked) {
        m.state = "FAILED";
        m.code = 70;
        m.message = "did not end within " + std::to_string(g_gang.timeoutSeconds) + " s";
    }
}

double Seconds(const Member& m) { return ((m.ended ? m.end : TickCountMs()) - m.start) / 1000.0; }

std::string Row(const Member& m) {
    char text[512];
    snprintf(text, sizeof text, "%-32s %-24s %6.1f s", m.port.c_str(), m.state.c_str(), Seconds(m));
    return text;
}

// A terminal gets one line per port redrawn in place; anything else a line per change.
struct Display {
    bool terminal = StdoutIsTerminal() && !g_flags.daemonChild;
    std::vector<std::string> shown;
    void Draw(std::vector<Member>& members, bool first) {
        if (terminal) {
            if (!first) printf("\x1b[%zuA", members.size());
            for (const Member& m : members) printf("\r\x1b[K%s\n", Row(m).c_str());
            fflush(stdout);
            return;
        }
        shown.resize(members.size());
        for (size_t i = 0; i < members.size(); ++i) {
            if (shown[i] == members[i].state) continue;
            shown[i] = members[i].state;
            MsgPrint(MSG_PLAIN, "%s: %s", members[i].port.c_str(), members[i].state.c_str());
        }
    }
};

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

void Summary(const std::vector<Member>& members) {
    printf("\n\nGang summary:\n  %-32s %-36s %-6s %8s  %s\n", "port", "target", "result", "seconds", "message");
    for (const Member& m : members)
        printf("  %-32s %-36s %-6s %8.1f  %s\n", m.port.c_str(), m.target.c_str(), m.code == 0 ? "ok" : "FAILED", Seconds(m),
               m.message.c_str());
    fflush(stdout);
    if (g_gang.report.empty()) return;
    FILE* file = FileOpen(g_gang.report.c_str(), "w");
    for (const Member& m : members)
        fprintf(file, "{\"port\": %s, \"target\": %s, \"result\": \"%s\", \"exit\": %d, \"seconds\": %.3f, \"message\": %s}\n",
                Json(m.port).c_str(), Json(m.target).c_str(), m.code == 0 ? "ok" : "failed", m.code, Seconds(m),
                Json(m.message).c_str());
    if (fclose(file) != 0) MsgError("Can't write file %s.", g_gang.report.c_str());
}
}  // namespace

void CmdGangReport(const char* value) { g_gang.report = value; }

void CmdGangTimeout(const char* value) {
    int seconds = atoi(value);
    if (seconds <= 0) MsgError("Invalid time for '--gangtimeout'");
    g_gang.timeoutSeconds = seconds;
}

void CmdGang(const char* value) {
    // The commands may also follow the ports in the value, after a blank: a daemon's
    // client sends the whole gang as one line (CMD:--gang=PORTS --erase --write).
    std::string text = value;
    std::vector<std::string> commands;
    if (size_t blank = text.find(' '); blank != std::string::npos) {
        for (const std::string& word : SplitFields(text.substr(blank + 1), ' '))
            if (!word.empty()) commands.push_back(word);
        text = text.substr(0, blank);
    }
    for (const std::string& line : TakeRestOfCommandFile()) commands.push_back(line);
    const std::vector<std::string> ports = ResolvePorts(text);
    if (commands.empty()) MsgError("--gang runs the commands after it: none follow.");

    g_gang.dir = CreateUniqueTempDir("vorloGang");
    if (g_gang.dir.empty()) MsgError("Can't create a folder for the gang.");
    static bool registered = false;
    if (!registered) {
        AppAtExit(StopGang);
        registered = true;
    }
    const std::string image = ProgramCodeLoaded() ? WriteImage(g_gang.dir) : "";

    g_gang.members.assign(ports.size(), Member{});
    for (size_t i = 0; i < ports.size(); ++i) {
        Member& m = g_gang.members[i];
        m.port = ports[i];
        const bool channel = OpenStatusChannel(m.channel);
        std::vector<std::string> args = {SelfExecutablePath(), "--statuschannel=" + m.channel.childEnd};
        for (const std::string& a : SettingsArgs(m.port)) args.push_back(a);
        if (!image.empty()) {
            args.push_back("--format=MOTSREC32");
            args.push_back("--importcode=" + image);
        }
        args.insert(args.end(), commands.begin(), commands.end());
        // The child's temporary files go into the gang's folder: even a child killed
        // before its clean-up leaves nothing behind when the folder goes.
        const std::string tmp = g_gang.dir + "/" + std::to_string(i);
        MakeDirectory(tmp);
        m.start = TickCountMs();
        if (channel) m.pid = StartReportingChild(args[0], args, {"TMP=" + tmp, "TEMP=" + tmp, "TMPDIR=" + tmp}, m.channel);
        if (m.pid < 0) {
            m.ended = true;
            m.code = 70;
            m.message = "could not be started";
            m.state = "FAILED";
        }
    }

    if (g_flags.daemonChild) ProgressInstall(ProgressDaemonCounters);
    Display display;
    display.Draw(g_gang.members, true);
    long reportedTotal = -1;
    for (;;) {
        bool running = false;
        long done = 0, total = 0;
        for (Member& m : g_gang.members) {
            if (m.ended) continue;
            Follow(m);
            // Past its time: asked to stop (it restores its port), killed if it does not.
            if (g_gang.timeoutSeconds > 0 && !m.stopAsked &&
                TickCountMs() - m.start >= static_cast<uint32_t>(g_gang.timeoutSeconds) * 1000u) {
                StopChild(m.pid);
                m.stopAsked = TickCountMs();
                m.state = "stopping";
            }
            if (m.stopAsked && TickCountMs() - m.stopAsked >= kStopGraceMs) KillChild(m.pid);
            if (int code = 0; ChildEnded(m.pid, code))
                Finish(m, code);
            else
                running = true;
        }
        for (const Member& m : g_gang.members) {
            done += m.ended && m.code == 0 ? m.bytesTotal : m.bytesDone;
            total += m.bytesTotal;
        }
        if (g_flags.daemonChild) {
            if (total != reportedTotal) ProgressHook(PROGRESS_START, total);
            reportedTotal = total;
            ProgressHook(PROGRESS_UPDATE, done);
        }
        display.Draw(g_gang.members, false);
        if (!running) break;
        if (g_flags.abort) MsgError("Gang stopped.");
        SleepMs(kPollMs);
    }

    Summary(g_gang.members);
    RemoveDir(g_gang.dir);
    g_gang.dir.clear();
    std::string failed;
    int failures = 0;
    for (const Member& m : g_gang.members)
        if (m.code != 0) {
            ++failures;
            failed += (failed.empty() ? "" : ", ") + m.port;
        }
    if (failures) MsgError("Gang: %d of %zu ports failed: %s", failures, g_gang.members.size(), failed.c_str());
    MsgPrint(MSG_PLAIN, "Gang: all %zu ports done.", g_gang.members.size());
}
