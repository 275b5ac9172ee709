// Runs vorlo-sim for a test and talks to it over its pseudo-terminal, as a host would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes HexBytes(const std::string& text);  // "A2 05 0B" -> {A2, 05, 0B}
std::string HexText(const Bytes& bytes);   // {A2, 05} -> "A2 05"

class SimProcess {
public:
    // Starts vorlo-sim with `args`, reads the terminal path from its first line and opens
    // it raw at `baud` (with 2 stop bits when asked). A ready-made --timeout keeps a
    // forgotten simulator from lingering.
    explicit SimProcess(const std::vector<std::string>& args, speed_t baud = B115200, bool twoStopBits = false);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ready() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    void Send(const Bytes& bytes);
    // Reads until `count` bytes came or `timeoutMs` passed.
    Bytes Receive(size_t count, int timeoutMs = 1000);
    Bytes Exchange(const Bytes& bytes, size_t count, int timeoutMs = 1000) {
        Send(bytes);
        return Receive(count, timeoutMs);
    }
    void SetBaud(speed_t baud);
    void SetTwoStopBits(bool two);
    // Closes the terminal and opens it again, as the next host would.
    void Reopen(speed_t baud = B115200);

    // SIGTERM and wait; returns the exit code (-1 when it had to be killed).
    int Stop();
    // Waits for the simulator to end on its own; -1 when it did not within the time.
    int WaitExit(int timeoutMs);
    std::string ErrorOutput() const;

private:
    void Open(speed_t baud);

    std::unique_ptr<class ChildProcess> process_;
    int fd_ = -1;
    std::string path_;
    std::string errPath_;
};

// CRC-16/CCITT-FALSE computed bit by bit, independently of the simulator's byte-wise form.
uint16_t ReferenceCrc16(const Bytes& bytes);
// A complete 'W' frame: 'W', LE32 address, LE16 length, data, CRC low byte first.
Bytes WriteFrame(uint32_t address, const Bytes& data);

// CRC-16/MODBUS computed bit by bit (reflected 0xA001, initial 0xFFFF), independently of
// the simulator's table-driven form.
uint16_t ReferenceCrc16Modbus(const Bytes& bytes);
// A Modbus RTU frame: `bytes` with their CRC appended, low byte first.
Bytes ModbusFrame(Bytes bytes);

// NXP ISP text protocol (lpc_isp): a command line is sent with CR LF; the answer is read
// up to `lines` line ends after the echo, and returned without the echo when the echo
// was right (else the whole text, so that a wrong echo shows in the comparison).
std::string IspCommand(SimProcess& sim, const std::string& command, size_t lines = 1, bool echo = true);
// UU-encoded data lines of up to 45 bytes each, with CR LF.
std::vector<std::string> UuLines(const Bytes& data);
// "W address count", the data lines and a checksum after every 20 lines and the last;
// `badChecksum` sends the first checksum wrong (then the lines again). Returns the
// return code and the checksum answers, blank-separated: "0 RESEND OK".
std::string IspWriteRam(SimProcess& sim, uint32_t address, const Bytes& data, bool badChecksum = false);

// MSP430 BSL (msp430_bsl): the packet 80 NL NH, command, data, CRC low byte first.
Bytes BslPacket(uint8_t command, const Bytes& data = {});
// Reads the BSL's answer: the acknowledge and, behind 00 when `response`, one core
// response with its frame and CRC checked. Returns "00 3B 04" (acknowledge, response
// command and data), the acknowledge alone ("52"), "" for nothing, or the bytes read
// and " BROKEN" for a response that is cut short, badly framed or fails its CRC.
std::string BslAnswer(SimProcess& sim, bool response = true);
inline std::string BslCommand(SimProcess& sim, uint8_t command, const Bytes& data = {}, bool response = true) {
    sim.Send(BslPacket(command, data));
    return BslAnswer(sim, response);
}
