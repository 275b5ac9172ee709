// Helpers for tests that drive a real daemon over TCP.
//
// Every test picks its own free port (FreePort) and hands it to the daemon through
// VORLO_DAEMON_PORT, so tests run in parallel. Daemons a test starts are always ended
// when the test ends: DaemonProcess kills the process it started, DetachedDaemons kills
// every background copy that carries its tag in the environment.
//
// Adding tests for WRITE in a daemon (a simulator on a pseudo-terminal, VORLO_SIM_BIN):
//   DaemonProcess d({"+D"});                      // or {"-d", "-D"} to keep the console
//   DaemonClient c(d.Port());
//   c.Request("CMD:--redirout=" + dir + "/out.txt");
//   c.Request("CMD:--connection=<pty>,...");  c.Request("CMD:--write");
//   poll c.Request("STAT:") for "BUSY: 1/2" (2048 bytes, first block done), then "READY";
//   QUIT: during the write: expect "OK", then d.Wait(...) == 1.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A TCP port that nothing listens on at the moment.
uint16_t FreePort();

// A vorlo process started by the test (for "+D", or "-d -D": the daemon itself).
class DaemonProcess {
public:
    // Starts vorlo with the arguments; VORLO_DAEMON_PORT is set to a free port unless
    // env names it. Standard output and error go to files until the daemon detaches.
    explicit DaemonProcess(const std::vector<std::string>& args, std::map<std::string, std::string> env = {},
                           bool waitListening = true);
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    uint16_t Port() const { return port_; }
    const std::string& Dir() const { return dir_; }
    // Waits for the process to end: its exit code, or -1 when it still runs (or was
    // killed by a signal: -2 - signal number).
    int Wait(int timeoutMs);
    bool Running();
    std::string Out() const;
    std::string Err() const;

private:
    std::unique_ptr<class ChildProcess> process_;
    uint16_t port_ = 0;
    std::string dir_;
};

// Background daemons started through "-D" by vorlo processes that ran with Env().
class DetachedDaemons {
public:
    DetachedDaemons();
    ~DetachedDaemons();  // kills all of them
    std::map<std::string, std::string> Env() const;
    std::vector<pid_t> Pids() const;
    uint16_t Port() const { return port_; }

private:
    std::string tag_;
    uint16_t port_;
};

// One client connection to a daemon.
class DaemonClient {
public:
    explicit DaemonClient(uint16_t port, const std::string& host = "127.0.0.1");
    ~DaemonClient();
    DaemonClient(const DaemonClient&) = delete;
    DaemonClient& operator=(const DaemonClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    // Sends the line with CR LF and returns the reply line without CR LF ("" when the
    // connection ended or no reply came within the time).
    std::string Request(const std::string& line, int timeoutMs = 5000);
    void SendRaw(const std::string& bytes);
    // The next reply line, or "" (see Request).
    std::string ReadLine(int timeoutMs = 5000);
    // True when the daemon closed the connection within the time.
    bool ClosedByPeer(int timeoutMs = 5000);
    void Close();

private:
    int fd_ = -1;
    std::string pending_;
};

// Whether a TCP connection to host:port is accepted.
bool CanConnect(const std::string& host, uint16_t port);

// Polls STAT: until the daemon answers READY; false when it did not within the time.
bool WaitReady(uint16_t port, int timeoutMs = 10000);
