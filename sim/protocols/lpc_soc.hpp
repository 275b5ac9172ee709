// The on-chip peripherals of an NXP LPC part as code running on its CPU sees them: the
// clock generation (oscillators, PLL, CPU and peripheral clock dividers), UART0, the pin
// function select of its pins, the watchdog and, on the Cortex-M3 parts, the reset
// request of the system control block and the GPDMA as far as it serves UART0's
// receiver. Registers that are not modelled read back what
// was written. The model knows nothing of the CPU: the emulator feeds it the register
// accesses and the passing of time, and acts on what it asks for (a stop of the CPU while
// the code waits for input, a reset, the UART's rate).
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "protocols/lpc_parts.hpp"

enum class LpcFamily {
    Lpc21,  // ARM7TDMI-S LPC21xx/22xx: main oscillator only, PLL with M and P, VPBDIV
    Lpc23,  // ARM7TDMI-S LPC23xx/24xx: IRC, PLL with M and N, CCLKCFG, PCLKSEL
    Lpc17,  // Cortex-M3 LPC17xx: as the LPC23xx, at other addresses
};

// What the emulation needs to know of a part beyond the part table.
struct LpcChip {
    struct Ram {
        uint32_t base;
        uint32_t size;
    };
    LpcFamily family;
    // The local SRAM the CPU runs from: the part table's RAM size counts other RAM
    // blocks in on some parts (the LPC17xx's AHB SRAM, the LPC214x's USB RAM).
    uint32_t localRam;
    std::vector<Ram> otherRam;  // AHB SRAM, USB and Ethernet RAM
    bool fractionalDivider;     // UART0 has the fractional divider register (FDR)
    double maxCclkHz;

    bool Cortex() const { return family == LpcFamily::Lpc17; }
    uint32_t RamBase() const { return Cortex() ? 0x10000000u : 0x40000000u; }
    uint32_t RamTop() const { return RamBase() + localRam; }
    uint32_t PeripheralBase() const { return Cortex() ? 0x40000000u : 0xE0000000u; }
    uint32_t IapEntry() const { return Cortex() ? 0x1FFF1FF1u : 0x7FFFFFF1u; }
};

// None for the parts whose peripherals are not modelled (LPC13xx, LPC11xx).
std::optional<LpcChip> LpcChipOf(const LpcPart& part);

// What the peripherals tell the emulator.
class LpcSocEvents {
public:
    virtual ~LpcSocEvents() = default;
    virtual void Note(const std::string& text) = 0;       // the wire log
    virtual void Violation(const std::string& text) = 0;  // the wire log and standard error
    virtual void Transmit(uint8_t byte) = 0;              // UART0 sends a byte
    // The GPDMA's bus accesses: false where no RAM answers.
    virtual bool DmaWrite(uint32_t address, uint8_t byte) = 0;
    virtual bool DmaRead(uint32_t address, uint32_t* words, size_t count) = 0;
};

class LpcSoc {
public:
    // `crystalHz`: the main oscillator, as the host gave it at synchronisation; `ispRate`:
    // the rate the boot ROM's UART0 runs at when the code starts.
    LpcSoc(const LpcChip& chip, double crystalHz, uint32_t ispRate, LpcSocEvents& events);

    // A register access of the code; `seconds` is the emulated time.
    uint32_t Read(uint32_t address, unsigned size, double seconds);
    void Write(uint32_t address, unsigned size, uint32_t value, double seconds);

    // A host byte reached the UART0 pin at `arrival` (real time, seconds since the start).
    void Receive(uint8_t byte, double arrival);
    // The GPDMA moves what has arrived (real time as last set) into memory, where a
    // channel takes UART0's receiver; true when it moved a byte.
    bool ServiceDma();
    // The CPU sat in an IAP call until `end` (real time) and read nothing: of the bytes
    // that had arrived by then and were not read, those beyond the 16 the receive FIFO
    // holds are lost (overrun), unless the GPDMA took them.
    void StallEnded(double end);
    void StallStarted() { stalled_ = true; }
    // The arrival time of the next byte that has not been read yet; none when none.
    std::optional<double> NextArrival() const;
    void SetRealTime(double seconds) { realTime_ = seconds; }

    double CclkHz() const;
    // UART0's rate; 0 while it cannot send or receive (`why` tells why).
    uint32_t UartRate(std::string* why = nullptr) const;
    std::string UartSettings() const;  // "PCLK 48000000 Hz, divisor 3, DivAddVal 1, MulVal 12"
    // Whether an access since the last call may have changed the UART's rate.
    bool TakeRateChange();
    // Whether the code polls the receiver with nothing to read: it waits for input.
    bool TakeWaitForInput();
    // Whether the code used the UART, the watchdog or a reset since the last call: the
    // signs of a routine that is still doing its job.
    bool TakeProgress();
    void MarkProgress() { progress_ = true; }
    // A reset the code caused: "watchdog reset", "SYSRESETREQ"; empty when none.
    std::string TakeReset();
    // The emulated time at which the watchdog resets the part; none while it does not run.
    std::optional<double> WatchdogDue() const;
    void CheckWatchdog(double seconds);
    bool WatchdogResets() const { return wdt_.running && (wdt_.mod & 2); }
    // Whether the CPU should stop at once: the code waits for input, or reset the part.
    bool StopWanted() const { return waitForInput_ || !reset_.empty(); }
    bool DivisorLatchOpen() const { return (uart_.lcr & 0x80) != 0; }

private:
    struct Pll {
        uint32_t con = 0, cfg = 0;          // as written
        uint32_t conFed = 0, cfgFed = 0;    // in effect since the last feed
        double lockedAt = std::numeric_limits<double>::infinity();
        bool Connected() const { return (conFed & 3) == 3; }
    };
    struct Uart {
        uint32_t dll = 0, dlm = 0, ier = 0, lcr = 3, fcr = 0, scr = 0, fdr = 0x10, ter = 0x80;
        uint32_t lastRead = 0;
        bool divisorWritten = false;
        int emptyPolls = 0;
    };
    struct DmaChannel {
        uint32_t source = 0, destination = 0, lli = 0, control = 0, config = 0;
    };
    struct Dma {
        uint32_t config = 0;  // DMACConfig: bit 0 enables the controller
        uint32_t intTc = 0, intErr = 0;
        DmaChannel channel[8];
        uint32_t lastDestination = 0;  // as the CPU last read it
        double lastReadAt = -1;        // CPU time of that read
        int unchangedReads = 0;
    };
    struct Watchdog {
        uint32_t mod = 0, tc = 0xFF, clksel = 0;
        bool running = false;
        bool feedArmed = false;
        double fedAt = 0;
    };

    uint32_t ReadWord(uint32_t address, double seconds);
    void WriteWord(uint32_t address, uint32_t value, uint32_t mask, double seconds);
    uint32_t UartRead(uint32_t offset);
    void UartWrite(uint32_t offset, uint32_t value);
    uint32_t ClockRead(uint32_t offset, double seconds);
    void ClockWrite(uint32_t offset, uint32_t value, double seconds);
    void Feed(double seconds);
    uint32_t DmaRegisterRead(uint32_t offset, double seconds);
    void DmaRegisterWrite(uint32_t offset, uint32_t value);
    // The channel that takes UART0's received bytes now, or null.
    DmaChannel* UartDmaChannel();
    uint32_t WatchdogRead(uint32_t offset, double seconds);
    void WatchdogWrite(uint32_t offset, uint32_t value, double seconds);
    void WatchdogEvent(const std::string& why);
    void SystemControlWrite(uint32_t offset, uint32_t value);
    // A register without a model: it reads back what was written. Stored() notes the
    // first access to each 4 KiB block of them; StoredQuiet() is for the registers of
    // the modelled blocks that need no more than that (MAMCR, MEMMAP, SysTick...).
    uint32_t& Stored(uint32_t address);
    uint32_t& StoredQuiet(uint32_t address);
    void ClockChanged(double seconds);
    void ViolationOnce(const std::string& text);
    void NoteOnce(const std::string& text);

    double FinHz() const;   // the PLL's input: the selected oscillator
    double FccoHz() const;  // the PLL's output with its fed settings
    double PclkHz(unsigned field) const;  // PCLKSEL0 field (0: watchdog, 3: UART0)
    double WatchdogClockHz() const;
    bool PllLocked(double seconds) const { return seconds >= pll_.lockedAt; }
    bool RxPinConnected() const;
    bool TxPinConnected() const;
    bool RxReady() const { return !rx_.empty() && rx_.front().second <= realTime_; }

    LpcChip chip_;
    double crystalHz_;
    uint32_t ispRate_;
    double bootPclk_;  // UART0's clock when the code started
    LpcSocEvents& events_;

    Pll pll_;
    bool pllFeedArmed_ = false;
    uint32_t cclkcfg_ = 0, clksrcsel_ = 0, scs_ = 0, pclksel0_ = 0, pclksel1_ = 0, vpbdiv_ = 0;
    uint32_t pconp_ = 0, flashcfg_ = 0x303A;
    double oscStableAt_ = std::numeric_limits<double>::infinity();
    double lastCclk_ = 0;
    uint32_t pinsel0_ = 0;
    bool pinselWritten_ = false;
    bool pinselNoted_ = false;
    Uart uart_;
    bool overrun_ = false;  // LSR OE, cleared by reading LSR
    Dma dma_;
    bool stalled_ = false;        // the CPU is in an IAP call
    size_t dmaDuringStall_ = 0;   // bytes the GPDMA took meanwhile
    Watchdog wdt_;
    std::deque<std::pair<uint8_t, double>> rx_;
    double realTime_ = 0;

    bool rateChange_ = false;
    bool waitForInput_ = false;
    bool progress_ = false;
    std::string reset_;
    std::map<uint32_t, uint32_t> stored_;  // registers without a model
    std::set<uint32_t> unmodelledNoted_;   // 4 KiB peripheral blocks already noted
    std::set<std::string> violations_;
    std::set<std::string> notes_;
};
