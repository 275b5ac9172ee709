#include "net/command_server.hpp"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/run_flags.hpp"
#include "base/text.hpp"
#include "net/socket.hpp"
#include "platform/process.hpp"

namespace {
constexpr int kLineCapacity = 300;  // request lines of up to 299 characters

struct CommandQueue {
    std::mutex lock;
    std::deque<std::string> lines;
};
CommandQueue g_queue;  // filled by the connection threads, emptied by the run loop

struct ServerState {
    std::mutex lock;
    std::string secret;  // set before the server thread starts, then only read
    std::string result = "RESULT: 0";
};
ServerState g_server;  // what the connection threads answer besides the queue

// Equal texts, in a time that does not tell how much of a guess was right.
bool SameSecret(const std::string& given, const std::string& secret) {
    if (secret.empty()) return true;  // nothing to prove
    unsigned char differ = given.size() == secret.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    return differ == 0;
}

constexpr size_t kCommandLineChars = 255;  // what one line of the command file holds

bool Ending() { return g_flags.kill || g_flags.abort; }

// Queues a command line for the run loop. A line without a command runs nothing but
// still wakes the waiting run loop, which starts its idle time afresh. A command longer
// than a command file line would be run as two broken commands: it is refused.
bool QueueCommand(const char* text) {
    std::string command = Trimmed(text);
    if (command.size() > kCommandLineChars) return false;
    std::lock_guard<std::mutex> lock(g_queue.lock);
    if (Ending()) return false;
    if (!command.empty()) g_queue.lines.push_back(std::move(command));
    g_flags.newCommand = true;
    return true;
}

// QUIT: and KILL: take effect under the queue lock, so a CMD: is either queued before
// them (and, after KILL:, still run) or refused.
void RequestEnd(std::atomic<bool>& flag, bool dropQueued) {
    std::lock_guard<std::mutex> lock(g_queue.lock);
    if (dropQueued) g_queue.lines.clear();
    flag = true;
}

void ReplyState(SocketHandle s) {
    bool busy;
    {
        std::lock_guard<std::mutex> lock(g_queue.lock);
        busy = g_flags.busy || !g_queue.lines.empty();
    }
    if (!busy) {
        socksendstr(s, "READY");
        return;
    }
    char reply[64];
    snprintf(reply, sizeof reply, "BUSY: %i/%i", ProgressKibDone(), ProgressKibTotal());
    socksendstr(s, reply);
}

// A port as the socket gives it: in network byte order, big-endian.
unsigned PortNumber(uint16_t networkOrder) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    return unsigned{b[0]} << 8 | b[1];
}

bool Starts(const char* line, const char* keyword) { return strncmp(line, keyword, strlen(keyword)) == 0; }

void ServeForever(SocketHandle s, std::promise<void>* listening) {
    SockListenOptions options;
    options.maxConnections = kDaemonMaxConnections;
    options.listening = [listening]() { listening->set_value(); };
    socklisten(s, CmdServerConnection, options);
}
}  // namespace

uint16_t CmdServerPort() {
    const char* value = getenv(kDaemonPortVariable);
    if (!value || !*value) return kDaemonDefaultPort;
    char* end = nullptr;
    errno = 0;
    long port = strtol(value, &end, 10);
    if (errno != 0 || *end != '\0' || port < 1 || port > 65535)
        MsgError("Invalid port '%s' in %s.", value, kDaemonPortVariable);
    return static_cast<uint16_t>(port);
}

void CmdServerStart() {
    uint16_t port = CmdServerPort();
    uint32_t bind = g_flags.serverBindAddress;
    SocketHandle s = sockopen(nullptr, bind, port);
    if (s == kNoSocket) {
        int error = SocketLastError();
        char where[80];
        snprintf(where, sizeof where, "sockopen %u.%u.%u.%u:%u", bind >> 24, (bind >> 16) & 0xFF, (bind >> 8) & 0xFF,
                 bind & 0xFF, port);
        const char* text = SocketErrorText(error);
        std::string why = std::string(where) + ": (" + std::to_string(error) + ") " + (text ? text : SocketSystemText(error));
        ReportToStarter(why.c_str());
        SocketSetLastError(error);
        sockerror(where);
        MsgError("serverthread.sockopen in %s: %i.", "lib/cmdline", __LINE__);
    }
    uint32_t address = 0;
    uint16_t boundPort = 0;
    if (sockinfo(s, &address, &boundPort) == 0) {
        const unsigned char* a = reinterpret_cast<const unsigned char*>(&address);
        MsgPrint(MSG_DEBUG, "Server socket open on host %u.%u.%u.%u, port %u\n", a[0], a[1], a[2], a[3],
                 PortNumber(boundPort));
    }
    // The promise outlives this call: the server thread runs for the rest of the process.
    auto* listening = new std::promise<void>();
    std::future<void> ready = listening->get_future();
    std::thread(ServeForever, s, listening).detach();
    ready.wait();
}

bool CmdServerTakeCommand(std::string& command) {
    std::lock_guard<std::mutex> lock(g_queue.lock);
    if (g_queue.lines.empty()) {
        g_flags.newCommand = false;
        return false;
    }
    command = std::move(g_queue.lines.front());
    g_queue.lines.pop_front();
    g_flags.busy = true;
    return true;
}

void CmdServerReadSecret(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) MsgError("Can't read the secret file %s (%s).", path, strerror(errno));
    char text[256];
    size_t n = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    text[n] = '\0';
    g_server.secret = Trimmed(text);
    if (g_server.secret.empty()) MsgError("The secret file %s holds no secret.", path);
}

void CmdServerAnnounce() {
    const uint32_t bind = g_flags.serverBindAddress;
    MsgPrint(MSG_NOTE, "The daemon listens on %u.%u.%u.%u port %u.", bind >> 24, (bind >> 16) & 0xFF, (bind >> 8) & 0xFF,
             bind & 0xFF, CmdServerPort());
    if (bind == 0)
        MsgPrint(MSG_WARNING, "That is every interface: %s", g_server.secret.empty()
                                                                 ? "whoever reaches the port can run commands here "
                                                                   "(--localhostonly, --secretfile)."
                                                                 : "clients must send the secret first.");
}

void CmdServerSetResult(int code, const char* text) {
    std::lock_guard<std::mutex> lock(g_server.lock);
    g_server.result = code == 0 ? "RESULT: 0" : "RESULT: " + std::to_string(code) + " " + text;
}

void CmdServerConnection(SocketHandle s) {
    SockLineReader reader;
    reader.lfEnds = true;
    char line[kLineCapacity];
    int failure = 0;
    bool admitted = g_server.secret.empty();
    for (;;) {
        int n = sockreadline(s, line, kLineCapacity, reader);
        if (n < 0) {
            failure = SocketLastError();
            break;
        }
        if (n == 0 && reader.closed) break;
        if (n == kLineCapacity) {
            // An over-long line is refused as a whole: a cut command must not run, and
            // its tail must not be taken for a request of its own.
            while (n == kLineCapacity) n = sockreadline(s, line, kLineCapacity, reader);
            if (n < 0) {
                failure = SocketLastError();
                break;
            }
            socksendstr(s, "ERR");
            continue;
        }
        if (!admitted) {
            // A secret is set: nothing but the right AUTH: line opens the connection.
            admitted = Starts(line, "AUTH:") && SameSecret(line + 5, g_server.secret);
            socksendstr(s, admitted ? "OK" : "ERR");
            if (!admitted) return;
            continue;
        }
        if (Starts(line, "AUTH:")) {
            socksendstr(s, SameSecret(line + 5, g_server.secret) ? "OK" : "ERR");
            continue;
        }
        if (Starts(line, "RESULT:")) {
            std::string result;
            {
                std::lock_guard<std::mutex> lock(g_server.lock);
                result = g_server.result;
            }
            socksendstr(s, result.c_str());
            continue;
        }
        if (Starts(line, "QUIT:")) {
            socksendstr(s, "OK");
            RequestEnd(g_flags.abort, true);
            return;
        }
        if (Starts(line, "STAT:")) {
            ReplyState(s);
        } else if (Starts(line, "CMD:")) {
            socksendstr(s, QueueCommand(line + 4) ? "OK" : "ERR");
        } else if (Starts(line, "KILL:")) {
            socksendstr(s, "OK");
            RequestEnd(g_flags.kill, false);
            return;
        } else {
            socksendstr(s, "ERR");
        }
    }
    if (failure != 0) MsgPrint(MSG_WARNING, "Handler error code: %s", SocketSystemText(failure).c_str());
}
