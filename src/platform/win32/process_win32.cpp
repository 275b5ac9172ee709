// Processes, temporary files, clocks and interrupts on Windows.
#include "platform/process.hpp"

#include <windows.h>
#include <io.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/win32/win32_text.hpp"

namespace {
// Names the handle of the start report's pipe in a copy started by StartDetachedCopy.
constexpr const char* kStarterHandleVariable = "VORLO_STARTER_HANDLE";

std::string HandleText(HANDLE h) { return std::to_string(reinterpret_cast<uintptr_t>(h)); }

HANDLE HandleOf(const std::string& text) {
    char* end = nullptr;
    unsigned long long value = strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end || value == 0) return nullptr;
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

// One argument on a command line as CommandLineToArgvW and the C runtime split it.
void AppendArgument(std::string& line, const std::string& arg) {
    if (!line.empty()) line += ' ';
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++i;
            ++backslashes;
        }
        if (i == arg.size()) {
            line.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') line.append(backslashes * 2 + 1, '\\');
        else line.append(backslashes, '\\');
        line += arg[i];
    }
    line += '"';
}

// The temporary folders in the order they are tried: TMP, TEMP, the system's.
std::vector<std::string> TempFolders() {
    std::vector<std::string> folders;
    for (const char* name : {"TMP", "TEMP"})
        if (const char* value = getenv(name); value && *value) folders.push_back(value);
    char system[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof system, system);
    if (n > 0 && n < sizeof system) folders.push_back(system);
    return folders;
}

// Starts a process with the handles in `inherit` (and only those) passed on to it.
bool CreateWithHandles(const std::string& program, std::string commandLine, DWORD flags,
                       std::vector<HANDLE> inherit, HANDLE stdHandle, const char* environment,
                       PROCESS_INFORMATION& process) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
    bool ok = inherit.empty() ||
              UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit.data(),
                                        inherit.size() * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXA start{};
    start.StartupInfo.cb = sizeof start;
    start.lpAttributeList = attributes;
    if (stdHandle) {
        start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        start.StartupInfo.hStdInput = start.StartupInfo.hStdOutput = start.StartupInfo.hStdError = stdHandle;
    }
    ok = ok && CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, !inherit.empty(),
                              flags | EXTENDED_STARTUPINFO_PRESENT, const_cast<char*>(environment), nullptr,
                              &start.StartupInfo, &process);
    DeleteProcThreadAttributeList(attributes);
    return ok;
}
}  // namespace

std::string SelfExecutablePath() {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return {};
    return std::string(path, n);
}

bool CreateUniqueTempFile(std::string& path) {
    // A folder that is missing or not writable is passed over for the next one.
    for (std::string folder : TempFolders()) {
        char name[MAX_PATH + 1];
        // Unique number 0: the system makes the name unique and creates the file.
        if (GetTempFileNameA(folder.c_str(), "HCP", 0, name)) {
            path = name;
            return true;
        }
        path = folder + "\\HCPxxxx.tmp";
    }
    return false;
}

std::string CreateUniqueTempDir(const char* prefix) {
    for (std::string folder : TempFolders()) {
        if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
        for (int attempt = 0; attempt < 100; ++attempt) {
            char unique[16];
            snprintf(unique, sizeof unique, "%06lX",
                     (GetCurrentProcessId() * 7919ul + GetTickCount() + attempt * 104729ul) & 0xFFFFFFul);
            std::string path = folder + prefix + unique;
            if (CreateDirectoryA(path.c_str(), nullptr)) return path;
            if (GetLastError() != ERROR_ALREADY_EXISTS) break;
        }
    }
    return "";
}

uint32_t TickCountMs() { return static_cast<uint32_t>(GetTickCount64()); }

uint64_t MonotonicUs() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

namespace {
// The system timer ticks every 15.6 ms unless asked for more: the waits of a protocol
// (a 1 ms settle, a reset pulse of 50 ms) must not grow by a tick each.
void FineTimer() {
    static std::once_flag once;
    std::call_once(once, [] {
        using SetResolution = UINT(WINAPI*)(UINT);
        if (HMODULE winmm = LoadLibraryExA("winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
            if (auto begin = win32::LibraryFunction<SetResolution>(winmm, "timeBeginPeriod")) begin(1);
    });
}
}  // namespace

void SleepMs(uint32_t milliseconds) {
    FineTimer();
    Sleep(milliseconds);
}

void SleepUs(uint32_t microseconds) {
    // Gaps of a few character times: whole milliseconds where they are that long, the
    // rest waited out on the clock.
    const uint64_t end = MonotonicUs() + microseconds;
    if (microseconds >= 2000) SleepMs(microseconds / 1000 - 1);
    while (MonotonicUs() < end) SwitchToThread();
}

bool StartDetachedCopy(const char* argv0, const char* const* extraArgs, std::string& report, uint32_t reportTimeoutMs) {
    report.clear();
    std::string self = SelfExecutablePath();
    if (self.empty()) self = argv0;
    std::string line;
    AppendArgument(line, argv0);
    for (const char* const* a = extraArgs; a && *a; ++a) AppendArgument(line, *a);

    // The copy reports on a pipe whose writing end it alone inherits; the handle's value
    // goes in its environment.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    SetEnvironmentVariableA(kStarterHandleVariable, HandleText(writeEnd).c_str());
    PROCESS_INFORMATION process{};
    bool started = CreateWithHandles(self, line, CREATE_NEW_CONSOLE, {writeEnd}, nullptr, nullptr, process);
    SetEnvironmentVariableA(kStarterHandleVariable, nullptr);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    CloseHandle(process.hThread);
    // Waits for the report line until the copy ends or the time passes.
    std::string text;
    const uint32_t start = TickCountMs();
    bool complete = false;
    while (!complete && TickCountMs() - start < reportTimeoutMs) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;  // the copy closed it
        if (available == 0) {
            Sleep(10);
            continue;
        }
        char buffer[256];
        DWORD got = 0;
        if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        text.append(buffer, got);
        size_t end = text.find('\n');
        if (end != std::string::npos) {
            text.resize(end);
            complete = true;
        }
    }
    CloseHandle(readEnd);
    CloseHandle(process.hProcess);
    if (complete) report = text;
    return true;
}

void ReportToStarter(const char* text) {
    const char* value = getenv(kStarterHandleVariable);
    if (!value) return;
    HANDLE h = HandleOf(value);
    _putenv((std::string(kStarterHandleVariable) + "=").c_str());
    SetEnvironmentVariableA(kStarterHandleVariable, nullptr);
    if (!h || GetFileType(h) != FILE_TYPE_PIPE) return;
    std::string line = std::string(text) + "\n";
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

namespace {
std::atomic<void (*)(int)> g_interruptHandler{nullptr};

// Runs on a thread the system starts for the console event. The numbers are the C
// runtime's: SIGINT for Ctrl+C, SIGBREAK for Ctrl+Break (how a gang stops its
// children), SIGTERM for a closed console, a log-off or a shut-down.
BOOL WINAPI ConsoleEvent(DWORD event) {
    auto handler = g_interruptHandler.load();
    if (!handler) return FALSE;
    switch (event) {
    case CTRL_C_EVENT: handler(2); break;
    case CTRL_BREAK_EVENT: handler(21); break;
    default: handler(15); break;
    }
    return TRUE;
}
}  // namespace

void WatchInterrupts(void (*handler)(int signal)) {
    g_interruptHandler = handler;
    SetConsoleCtrlHandler(ConsoleEvent, TRUE);
}

// Windows has no broken-pipe signal: a write into a closed pipe fails.
void IgnoreBrokenPipes() {}

void DetachFromConsole() {
    fflush(nullptr);
    FreeConsole();
    // The standard streams had the console: the null device takes their place.
    (void)!freopen("NUL", "r", stdin);
    (void)!freopen("NUL", "w", stdout);
    (void)!freopen("NUL", "w", stderr);
}

bool StdoutIsTerminal() {
    // The null device is a character device too: only a console counts.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

namespace {
// The children started here, by process id, and the job that ends them with this
// process.
struct Children {
    std::mutex lock;
    std::map<int, HANDLE> handles;
    HANDLE job = nullptr;
};
Children g_children;

HANDLE ChildHandle(int pid) {
    std::lock_guard<std::mutex> lock(g_children.lock);
    auto found = g_children.handles.find(pid);
    return found == g_children.handles.end() ? nullptr : found->second;
}

HANDLE ChildrenJob() {
    if (!g_children.job) {
        g_children.job = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (g_children.job)
            SetInformationJobObject(g_children.job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return g_children.job;
}
}  // namespace

bool ChildEnded(int pid, int& code) {
    HANDLE h = ChildHandle(pid);
    if (!h || WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
    DWORD exitCode = 0;
    GetExitCodeProcess(h, &exitCode);
    code = static_cast<int>(exitCode);
    std::lock_guard<std::mutex> lock(g_children.lock);
    g_children.handles.erase(pid);
    CloseHandle(h);
    return true;
}

void StopChild(int pid) {
    // Each child is a process group of its own on this console: Ctrl+Break reaches it
    // alone, and it ends through its exit handlers.
    if (pid > 0) GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid));
}

void KillChild(int pid) {
    if (HANDLE h = ChildHandle(pid)) TerminateProcess(h, 1);
}

bool OpenStatusChannel(StatusChannel& channel) {
    // Neither end inheritable: the child's end is passed to that child alone.
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return false;
    channel.readEnd = reinterpret_cast<intptr_t>(readEnd);
    channel.writeEnd = reinterpret_cast<intptr_t>(writeEnd);
    channel.childEnd = HandleText(writeEnd);
    return true;
}

void CloseStatusChannel(StatusChannel& channel) {
    for (intptr_t* end : {&channel.readEnd, &channel.writeEnd})
        if (*end != -1) {
            CloseHandle(reinterpret_cast<HANDLE>(*end));
            *end = -1;
        }
}

int StartReportingChild(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<std::string>& env, StatusChannel& channel) {
    if (channel.writeEnd == -1) return -1;
    std::string line;
    for (const std::string& a : args) AppendArgument(line, a);
    // This process's environment with the child's settings on top; the system wants
    // it sorted by name, without regard to letter case.
    std::map<std::string, std::string> variables;
    auto nameOf = [](const std::string& entry) {
        std::string name = entry.substr(0, entry.find('=', 1));
        for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return name;
    };
    if (char* block = GetEnvironmentStringsA()) {
        for (char* e = block; *e; e += strlen(e) + 1) variables[nameOf(e)] = e;
        FreeEnvironmentStringsA(block);
    }
    for (const std::string& e : env) variables[nameOf(e)] = e;
    std::string environment;
    for (const auto& [name, entry] : variables) environment += entry + '\0';
    environment += '\0';

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              OPEN_EXISTING, 0, nullptr);
    HANDLE statusEnd = reinterpret_cast<HANDLE>(channel.writeEnd);
    SetHandleInformation(statusEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    // Suspended until it is in the job, so that no child outlives the supervisor. A
    // supervisor without a console (the daemon) gives its children none either.
    DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED;
    if (GetConsoleCP() == 0) flags |= CREATE_NO_WINDOW;
    PROCESS_INFORMATION process{};
    bool started = null != INVALID_HANDLE_VALUE &&
                   CreateWithHandles(program, line, flags, {null, statusEnd}, null, environment.c_str(), process);
    if (null != INVALID_HANDLE_VALUE) CloseHandle(null);
    CloseHandle(statusEnd);
    channel.writeEnd = -1;
    if (!started) {
        CloseStatusChannel(channel);
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(g_children.lock);
        if (HANDLE job = ChildrenJob()) AssignProcessToJobObject(job, process.hProcess);
        g_children.handles[static_cast<int>(process.dwProcessId)] = process.hProcess;
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    return static_cast<int>(process.dwProcessId);
}

bool ReadStatusChannel(StatusChannel& channel, std::string& text) {
    if (channel.readEnd == -1) return false;
    HANDLE h = reinterpret_cast<HANDLE>(channel.readEnd);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) break;  // every writer closed it
        if (available == 0) return true;
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(h, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) || got == 0) break;
        text.append(buffer, got);
    }
    CloseHandle(h);
    channel.readEnd = -1;
    return false;
}

namespace {
struct StatusOut {
    std::mutex lock;  // lines of two threads must not mix
    HANDLE handle = nullptr;
};
StatusOut g_statusOut;  // this process's end of the channel to its parent
}  // namespace

bool AttachStatusChannel(const std::string& name) {
    HANDLE h = HandleOf(name);
    // Only a pipe, never a standard stream: events must not land in a file or a
    // console that happens to have that handle.
    if (!h || h == GetStdHandle(STD_INPUT_HANDLE) || h == GetStdHandle(STD_OUTPUT_HANDLE) ||
        h == GetStdHandle(STD_ERROR_HANDLE) || GetFileType(h) != FILE_TYPE_PIPE)
        return false;
    DWORD flags = 0;
    if (!GetHandleInformation(h, &flags)) return false;
    // Not passed on to the processes this one starts.
    SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    std::lock_guard<std::mutex> lock(g_statusOut.lock);
    g_statusOut.handle = h;
    return true;
}

void SendStatusLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_statusOut.lock);
    if (!g_statusOut.handle) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    if (!WriteFile(g_statusOut.handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        g_statusOut.handle = nullptr;  // the parent has gone: the run goes on without it
}

// Exit codes are 32 bits wide on Windows: the parent sees the code itself.
int ExitCodeSeenByParent(int code) { return code; }
