// Serial devices on Windows through the communications API: CreateFileA on "\\.\" and
// the port name, the DCB, COMMTIMEOUTS, PurgeComm, ClearCommError, ReadFile/WriteFile
// and EscapeCommFunction.
#include "platform/serial_device.hpp"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/win32/win32_text.hpp"

namespace serialdev {
namespace {
using win32::ErrorText;

constexpr const char* kDeviceNamespace = "\\\\.\\";
// The driver's queues: a whole block of the largest driver, with its framing, fits.
constexpr DWORD kQueueBytes = 4096;

// The open ports by device path, for the CP2103 latch, which needs the port's handle.
struct OpenPorts {
    std::mutex lock;
    std::map<std::string, HANDLE> byPath;
};
OpenPorts& Registry() {
    static OpenPorts ports;
    return ports;
}

// Why an open failed, in words a user can act on. A port that another program holds
// answers "access denied" on Windows.
OpenFailure FailureOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST: return {"No such device", ""};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return {"In use by another program", ""};
    default: return {ErrorText(error), ""};
    }
}

HANDLE OpenHandle(const std::string& path) {
    // No sharing: the port is this program's while it is open.
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// No flow control of any kind, every byte passed on as it came: bootloader protocols are
// binary and the targets' boot ROMs drive no handshake lines.
void MakeRaw(DCB& dcb) {
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;  // a framing error must not stop every later read
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_DISABLE;
}

class WindowsPort : public Port {
    HANDLE handle_;
    std::string path_;
    DCB saved_;  // what the device had before it was opened, given back at close
    COMMTIMEOUTS timeouts_{};  // as last given to the driver
    bool timeoutsKnown_ = false;
    // The modem lines as this program last set them: every DCB applied carries them, so
    // a change of the line settings does not move a line wired to the target's reset.
    int dtr_ = -1, rts_ = -1;
    DWORD lastError_ = 0;

    bool Failed() {
        lastError_ = GetLastError();
        return false;
    }

    bool UseTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
        COMMTIMEOUTS t{interval, multiplier, constant, 0, 0};
        if (timeoutsKnown_ && memcmp(&t, &timeouts_, sizeof t) == 0) return true;
        if (!SetCommTimeouts(handle_, &t)) return Failed();
        timeouts_ = t;
        timeoutsKnown_ = true;
        return true;
    }

    size_t Read(uint8_t* buf, size_t n) {
        DWORD got = 0;
        if (!ReadFile(handle_, buf, static_cast<DWORD>(n), &got, nullptr)) Failed();
        return got;
    }

    bool ModemLine(bool on, DWORD set, DWORD clear, int& state) {
        if (!EscapeCommFunction(handle_, on ? set : clear)) return Failed();
        state = on ? 1 : 0;
        return true;
    }

public:
    WindowsPort(HANDLE handle, std::string path, const DCB& saved) : handle_(handle), path_(std::move(path)), saved_(saved) {
        std::lock_guard<std::mutex> lock(Registry().lock);
        Registry().byPath[path_] = handle_;
    }
    ~WindowsPort() override {
        if (handle_ != INVALID_HANDLE_VALUE) Close();
    }

    bool Close() {
        {
            std::lock_guard<std::mutex> lock(Registry().lock);
            Registry().byPath.erase(path_);
        }
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

    // The open-time read timeouts: 15 ms between two bytes, 10 ms per requested byte.
    bool SetOpenTimeouts() { return UseTimeouts(15, 10, 0); }

    bool CanReadLine() override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        return GetCommState(handle_, &dcb) || Failed();
    }

    bool SetLine(const LineSettings& line) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return Failed();
        MakeRaw(dcb);
        dcb.BaudRate = line.baud;  // any rate: the driver of the UART finds its divisor
        dcb.ByteSize = static_cast<BYTE>(line.dataBits);
        dcb.Parity = static_cast<BYTE>(line.parity);      // NOPARITY .. SPACEPARITY: the same codes
        dcb.StopBits = static_cast<BYTE>(line.stopBits);  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
        dcb.fParity = line.parity != 0;
        if (dtr_ >= 0) dcb.fDtrControl = dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        if (rts_ >= 0) dcb.fRtsControl = rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        return SetCommState(handle_, &dcb) || Failed();
    }

    size_t ReadTimed(uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs) override {
        // The serial driver times the read: the interval runs from each byte on, the
        // total from the call; 0 leaves either out, both 0 waits for all n bytes.
        if (n == 0 || !UseTimeouts(intervalMs, 0, totalMs)) return 0;
        return Read(buf, n);
    }

    size_t ReadAvailable(uint8_t* buf, size_t n, uint32_t waitUs) override {
        if (n == 0) return 0;
        size_t got = 0;
        if (InputWaiting() == 0) {
            if (waitUs == 0) return 0;
            // One byte within the wait (whole milliseconds, the driver's unit), then
            // whatever came with it.
            if (!UseTimeouts(0, 0, (waitUs + 999) / 1000)) return 0;
            got = Read(buf, 1);
            if (got == 0) return 0;
        }
        size_t waiting = InputWaiting();
        if (waiting > 0 && got < n && UseTimeouts(MAXDWORD, 0, 0))
            got += Read(buf + got, waiting < n - got ? waiting : n - got);
        return got;
    }

    long WriteAll(const uint8_t* data, size_t n) override {
        size_t done = 0;
        while (done < n) {
            DWORD written = 0;
            if (!WriteFile(handle_, data + done, static_cast<DWORD>(n - done), &written, nullptr) || written == 0) {
                Failed();
                break;
            }
            done += written;
        }
        return static_cast<long>(done);
    }

    long WriteGather(const Piece* pieces, int count) override {
        if (count > 8) return -1;
        // One write for all pieces: a frame goes out without a gap between its parts.
        std::vector<uint8_t> frame;
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = static_cast<const uint8_t*>(pieces[i].data);
            frame.insert(frame.end(), p, p + pieces[i].size);
        }
        return WriteAll(frame.data(), frame.size());
    }

    size_t InputWaiting() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) return 0;
        return status.cbInQue;
    }

    void Flush() override {
        PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        DWORD errors = 0;
        ClearCommError(handle_, &errors, nullptr);
    }

    void FlushInput() override { PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR); }

    bool SetDtr(bool on) override { return ModemLine(on, SETDTR, CLRDTR, dtr_); }
    bool SetRts(bool on) override { return ModemLine(on, SETRTS, CLRRTS, rts_); }
    bool SetBreak(bool on) override { return (on ? SetCommBreak(handle_) : ClearCommBreak(handle_)) || Failed(); }

    bool RestoreAndClose() override {
        // The saved DCB carries the modem lines' controls as they were.
        SetCommState(handle_, &saved_);
        Flush();
        Sleep(1);
        Flush();
        return Close();
    }

    long Id() const override { return static_cast<long>(reinterpret_cast<intptr_t>(handle_)); }
    std::string LastError() const override { return win32::ErrorWithText(lastError_); }
};

class WindowsDevice : public Device {
public:
    std::unique_ptr<Port> Open(const std::string& path, OpenFailure& failure) override {
        HANDLE h = OpenHandle(path);
        if (h == INVALID_HANDLE_VALUE) {
            failure = FailureOf(GetLastError());
            return nullptr;
        }
        DCB saved{};
        saved.DCBlength = sizeof saved;
        // A handle that has no line settings is no serial port (a file, a printer).
        if (!GetCommState(h, &saved)) {
            failure = {ErrorText(GetLastError()), ""};
            CloseHandle(h);
            return nullptr;
        }
        auto port = std::make_unique<WindowsPort>(h, path, saved);
        port->Flush();
        if (!SetupComm(h, kQueueBytes, kQueueBytes)) {
            failure = {"SetupComm() failed: " + ErrorText(GetLastError()), ""};
            return nullptr;
        }
        port->SetOpenTimeouts();
        // Raw, keeping the rate and the character format until the line is set.
        DCB raw = saved;
        MakeRaw(raw);
        SetCommState(h, &raw);
        return port;
    }

    bool Probe(const std::string& path) override {
        HANDLE h = OpenHandle(path);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }
};
}  // namespace

// COMn and every other name are device names in the "\\.\" namespace, the form that
// also reaches COM10 and above; a name given in that form is taken as it is.
std::string DevicePath(const char* portName) {
    std::string name = portName ? portName : "";
    if (name.rfind(kDeviceNamespace, 0) == 0) return name;
    return kDeviceNamespace + name;
}

Device& System() {
    static WindowsDevice device;
    return device;
}

const CallNames& SystemCallNames() {
    static const CallNames names{"GetCommState", "SetCommState", "WriteFile", "WriteFile", "CloseHandle",
                                 "GetLastError ()"};
    return names;
}

}  // namespace serialdev

namespace win32 {
HANDLE OpenSerialHandle(const std::string& devicePath) {
    auto& registry = serialdev::Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto found = registry.byPath.find(devicePath);
    return found == registry.byPath.end() ? nullptr : found->second;
}
}  // namespace win32
