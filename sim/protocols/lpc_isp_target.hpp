// The lpc_isp target itself, shared by the files that make it up: lpc_isp.cpp (the line
// layer: autobaud, synchronisation, echo, line ends), lpc_isp_commands.cpp (the command
// lines and their answers); the flash model (lpc_flash.hpp), the UU data transfers
// (lpc_uu.hpp) and the started code (lpc_go.hpp) are parts of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol.hpp"
#include "protocols/lpc_flash.hpp"
#include "protocols/lpc_go.hpp"
#include "protocols/lpc_isp.hpp"
#include "protocols/lpc_uu.hpp"

class LpcIspTarget : public Protocol {
public:
    explicit LpcIspTarget(const LpcIspSettings& s);
    LpcIspTarget(const LpcIspTarget&) = delete;  // code_ refers to flash_
    LpcIspTarget& operator=(const LpcIspTarget&) = delete;

    void Receive(uint8_t byte, Target& t) override;
    void EndOfInput(Target& t) override;
    SimTime Work(Target& t) override;

private:
    enum class State { AutoBaud, SyncLine, ClockLine, Command, WriteData, ReadWait, Running, Routine, Emulated, Closed };
    // What a command handler returns when it has sent its answer itself.
    static constexpr int kAnswered = -1;

    // ---- the line layer (lpc_isp.cpp) ----
    void NoteOnce(Target& t, const char* text);
    void Echo(uint8_t byte, Target& t);
    static void Send(Target& t, const std::string& key, const std::string& text, std::chrono::milliseconds delay = {});
    static void Answer(Target& t, const std::string& key, int code, const std::string& more = "",
                       std::chrono::milliseconds delay = {});
    void Lock(Target& t);
    void Autobaud(Target& t);
    void Restart(Target& t, bool reset);
    void Line(Target& t);
    void Follow(LpcStartedCode::Next next, Target& t);

    // ---- the commands (lpc_isp_commands.cpp) ----
    void Command(const std::string& line, Target& t);
    int Sent(const LpcAnswer& answer, const std::string& key, Target& t);
    int Unlock(uint32_t code, Target& t);
    int Baud(uint32_t rate, uint32_t stopBits, Target& t);
    int WriteRam(uint32_t address, uint32_t count, Target& t);
    void DataLine(const std::string& line, Target& t);
    int Read(uint32_t address, uint32_t count, Target& t);
    void ReadAnswer(const std::string& line, Target& t);
    int Go(uint32_t address, bool thumb, Target& t);

    const LpcPart& part_;
    LpcFlashModel flash_;
    LpcStartedCode code_;
    std::optional<uint32_t> reportId_;
    std::optional<uint32_t> autobaudRate_;
    uint32_t bootMajor_ = 0, bootMinor_ = 0;
    uint32_t crystalKhz_;

    State state_;
    bool echo_ = true;
    bool unlocked_ = false;
    bool rateLocked_ = false;
    bool crPending_ = false;
    bool quietNoted_ = false;
    std::string line_;

    uint32_t writeAddress_ = 0;
    UuBlockReceiver upload_;
    UuBlockSender download_;
};
