#include "protocols/lpc_soc.hpp"

#include <algorithm>
#include <cmath>

#include "text.hpp"

namespace {

constexpr double kIrcHz = 4e6;
constexpr double kRtcHz = 32768;
constexpr double kPllLockSeconds = 100e-6;  // the data sheets give a few hundred microseconds at most
constexpr double kOscStartSeconds = 500e-6;
constexpr uint32_t kWdtBlock = 0x00000, kUartBlock = 0x0C000, kPinselBlock = 0x2C000;
constexpr uint32_t kGpdmaBase = 0x50004000;  // LPC17xx
constexpr uint32_t kDmaReqSel = 0x1C4;       // in the system control block
constexpr uint32_t kUartDmaRequest = 9;      // UART0 receive (DMAREQSEL bit 1 clear)
constexpr size_t kRxFifo = 16;
constexpr uint32_t kScsBase = 0xE000E000;  // Cortex-M system control space
constexpr uint32_t kCpuid = 0x412FC230;    // Cortex-M3 r2p0

// Register offsets in the system control block.
enum : uint32_t {
    kFlashCfg = 0x000,  // LPC17xx; MAMCR on the ARM7 parts
    kPllCon = 0x080,
    kPllCfg = 0x084,
    kPllStat = 0x088,
    kPllFeed = 0x08C,
    kPconp = 0x0C4,
    kVpbDiv = 0x100,
    kCclkCfg = 0x104,
    kClkSrcSel = 0x10C,
    kScs = 0x1A0,
    kPclkSel0 = 0x1A8,
    kPclkSel1 = 0x1AC,
};
constexpr uint32_t kOscRange = 1u << 4, kOscEn = 1u << 5, kOscStat = 1u << 6;

// The divisor latch and fractional divider that come closest to `rate`.
void BestDivisor(double pclk, uint32_t rate, bool fractional, uint32_t& divisor, uint32_t& fdr) {
    double bestError = 1e9;
    divisor = 1;
    fdr = 0x10;
    for (uint32_t mul = 1; mul <= (fractional ? 15u : 1u); ++mul) {
        for (uint32_t add = 0; add < mul; ++add) {
            double fraction = 1.0 + static_cast<double>(add) / mul;
            long dl = std::lround(pclk / (16.0 * rate * fraction));
            if (dl < 1 || dl > 0xFFFF || (add && dl < 3)) continue;
            double error = std::fabs(pclk / (16.0 * dl * fraction) - rate) / rate;
            if (error < bestError) {
                bestError = error;
                divisor = static_cast<uint32_t>(dl);
                fdr = (mul << 4) | add;
            }
        }
    }
}

}  // namespace

std::optional<LpcChip> LpcChipOf(const LpcPart& part) {
    uint32_t n = part.number;
    LpcChip chip{};
    chip.localRam = part.ramKiB * 1024;
    if (n >= 1700 && n < 1800) {
        chip.family = LpcFamily::Lpc17;
        chip.fractionalDivider = true;
        chip.maxCclkHz = n == 1769 || n == 1759 ? 120e6 : 100e6;
        // 32 KiB of local SRAM and 32 KiB of AHB SRAM on the large parts, 16 and 16
        // on the middle ones, local SRAM only on the LPC1751/52.
        uint32_t local = n == 1751 ? 8 : n == 1752 || n == 1754 || n == 1756 || n == 1764 ? 16 : 32;
        chip.localRam = local * 1024;
        if (n != 1751 && n != 1752) chip.otherRam.push_back({0x2007C000, (local == 16 ? 16u : 32u) * 1024});
        return chip;
    }
    if (part.Cortex()) return std::nullopt;  // LPC13xx, LPC11xx: other peripherals
    if (n >= 2300) {
        chip.family = LpcFamily::Lpc23;
        chip.fractionalDivider = true;
        chip.maxCclkHz = 72e6;
        uint32_t local = n == 2361 || n == 2364 ? 8 : n == 2387 || n == 2388 || n >= 2400 ? 64 : 32;
        chip.localRam = local * 1024;
        chip.otherRam = {{0x7FD00000, 8 * 1024}, {0x7FE00000, 16 * 1024}};  // USB and Ethernet RAM
        return chip;
    }
    chip.family = LpcFamily::Lpc21;
    // The LPC2101..2103 and LPC214x UARTs have a fractional divider, the older ones none.
    chip.fractionalDivider = n == 2103 || (n >= 2141 && n <= 2148);
    chip.maxCclkHz = n == 2103 ? 70e6 : 60e6;
    if (n == 2146 || n == 2148) {
        chip.localRam = 32 * 1024;  // the table's 40 KiB count the USB DMA RAM in
        chip.otherRam = {{0x7FD00000, 8 * 1024}};
    }
    return chip;
}

LpcSoc::LpcSoc(const LpcChip& chip, double crystalHz, uint32_t ispRate, LpcSocEvents& events)
    : chip_(chip), crystalHz_(crystalHz), ispRate_(ispRate), events_(events) {
    // The boot ROM's leftovers: the reset state of the clocks (PLL off; the LPC21xx run
    // from the crystal, the others from the 4 MHz IRC) except that UART0 runs at the CPU
    // clock (VPBDIV 1, PCLKSEL0 UART0 field 01), its pins are selected, and its divisor
    // is what the autobaud found.
    bool arm7 = !chip.Cortex();
    vpbdiv_ = 1;
    pclksel0_ = 1u << 6;
    pconp_ = arm7 ? 0x000003BE : 0x042887DE;
    pinsel0_ = chip.family == LpcFamily::Lpc21 ? 0x5 : 0x50;
    bootPclk_ = PclkHz(3);
    lastCclk_ = CclkHz();
    uint32_t divisor = 1;
    if (ispRate) BestDivisor(bootPclk_, ispRate, chip.fractionalDivider, divisor, uart_.fdr);
    uart_.dll = divisor & 0xFF;
    uart_.dlm = divisor >> 8;
}

// ---- clocks ---------------------------------------------------------------------------

double LpcSoc::FinHz() const {
    if (chip_.family == LpcFamily::Lpc21) return crystalHz_;
    switch (clksrcsel_ & 3) {
    case 1: return crystalHz_;
    case 2: return kRtcHz;
    default: return kIrcHz;
    }
}

double LpcSoc::FccoHz() const {
    if (chip_.family == LpcFamily::Lpc21) {
        double m = (pll_.cfgFed & 0x1F) + 1;
        double p = 1u << ((pll_.cfgFed >> 5) & 3);
        return m * crystalHz_ * 2 * p;
    }
    double m = (pll_.cfgFed & 0x7FFF) + 1;
    double n = ((pll_.cfgFed >> 16) & 0xFF) + 1;
    return 2 * m * FinHz() / n;
}

double LpcSoc::CclkHz() const {
    if (chip_.family == LpcFamily::Lpc21)
        return pll_.Connected() ? ((pll_.cfgFed & 0x1F) + 1) * crystalHz_ : crystalHz_;
    return (pll_.Connected() ? FccoHz() : FinHz()) / ((cclkcfg_ & 0xFF) + 1);
}

double LpcSoc::PclkHz(unsigned field) const {
    if (chip_.family == LpcFamily::Lpc21) {
        static const double kVpb[] = {4, 1, 2, 4};
        return CclkHz() / kVpb[vpbdiv_ & 3];
    }
    static const double kSel[] = {4, 1, 2, 8};
    return CclkHz() / kSel[(pclksel0_ >> (2 * field)) & 3];
}

double LpcSoc::WatchdogClockHz() const {
    if (chip_.family == LpcFamily::Lpc21) return PclkHz(0);
    switch (wdt_.clksel & 3) {
    case 1: return PclkHz(0);
    case 2: return kRtcHz;
    default: return kIrcHz;
    }
}

void LpcSoc::NoteOnce(const std::string& text) {
    if (notes_.insert(text).second) events_.Note(text);
}

void LpcSoc::ViolationOnce(const std::string& text) {
    if (violations_.insert(text).second) events_.Violation(text);
}

void LpcSoc::ClockChanged(double seconds) {
    (void)seconds;
    rateChange_ = true;
    double cclk = CclkHz();
    if (cclk != lastCclk_) {
        lastCclk_ = cclk;
        events_.Note(Format("CCLK %.6g MHz", cclk / 1e6));
    }
    if (cclk > chip_.maxCclkHz * 1.001)
        ViolationOnce(Format("CCLK %.6g MHz is above the part's maximum of %.6g MHz", cclk / 1e6, chip_.maxCclkHz / 1e6));
    if (chip_.family == LpcFamily::Lpc17) {
        // FLASHTIM n lets the flash run at up to 20 MHz * (n + 1); 5 is safe at any clock.
        uint32_t tim = (flashcfg_ >> 12) & 0xF;
        if (tim < 5 && cclk > 20e6 * (tim + 1) * 1.001)
            ViolationOnce(Format("FLASHCFG FLASHTIM %u is too short for CCLK %.6g MHz", tim, cclk / 1e6));
    }
}

void LpcSoc::Feed(double seconds) {
    uint32_t con = pll_.con, cfg = pll_.cfg;
    bool wasEnabled = pll_.conFed & 1;
    if (pll_.Connected() && cfg != pll_.cfgFed)
        ViolationOnce("the PLL settings were changed while the PLL was connected");
    if ((con & 1) && (!wasEnabled || cfg != pll_.cfgFed)) {
        pll_.lockedAt = seconds + kPllLockSeconds;
        pll_.cfgFed = cfg;
        double fcco = FccoHz();
        bool lpc21 = chip_.family == LpcFamily::Lpc21;
        double low = lpc21 ? 156e6 : 275e6, high = lpc21 ? 320e6 : 550e6;
        if (fcco < low || fcco > high)
            ViolationOnce(Format("the PLL's current controlled oscillator runs at %.6g MHz, outside %.0f to %.0f MHz",
                                 fcco / 1e6, low / 1e6, high / 1e6));
        if (lpc21 && (crystalHz_ < 10e6 || crystalHz_ > 25e6))
            ViolationOnce(Format("the PLL takes a 10 to 25 MHz oscillator, not %.6g MHz", crystalHz_ / 1e6));
    }
    if (!(con & 1)) pll_.lockedAt = std::numeric_limits<double>::infinity();
    if ((con & 3) == 3 && !pll_.Connected() && !PllLocked(seconds))
        ViolationOnce("the PLL was connected before it locked (PLOCK)");
    pll_.conFed = con;
    pll_.cfgFed = cfg;
    ClockChanged(seconds);
}

uint32_t LpcSoc::ClockRead(uint32_t offset, double seconds) {
    bool lpc21 = chip_.family == LpcFamily::Lpc21;
    bool locked = PllLocked(seconds);
    switch (offset) {
    case kPllCon: return pll_.con;
    case kPllCfg: return pll_.cfg;
    case kPllStat:
        if (lpc21) return (pll_.cfgFed & 0x7F) | ((pll_.conFed & 3) << 8) | (locked ? 1u << 10 : 0);
        return (pll_.cfgFed & 0xFF7FFF) | ((pll_.conFed & 3) << 24) | (locked ? 1u << 26 : 0);
    case kPllFeed: return 0;
    case kPconp: return pconp_;
    default: break;
    }
    if (lpc21) return offset == kVpbDiv ? vpbdiv_ : StoredQuiet(0xE01FC000 + offset);
    switch (offset) {
    case kCclkCfg: return cclkcfg_;
    case kClkSrcSel: return clksrcsel_;
    case kScs: return scs_ | (seconds >= oscStableAt_ ? kOscStat : 0);
    case kPclkSel0: return pclksel0_;
    case kPclkSel1: return pclksel1_;
    case kFlashCfg:
        if (chip_.Cortex()) return flashcfg_;
        break;
    default: break;
    }
    return StoredQuiet((chip_.Cortex() ? 0x400FC000 : 0xE01FC000) + offset);
}

void LpcSoc::ClockWrite(uint32_t offset, uint32_t value, double seconds) {
    bool lpc21 = chip_.family == LpcFamily::Lpc21;
    progress_ = true;
    switch (offset) {
    case kPllCon: pll_.con = value & 3; return;
    case kPllCfg: pll_.cfg = value & (lpc21 ? 0x7F : 0xFF7FFF); return;
    case kPllFeed:
        if (pllFeedArmed_ && value == 0x55) {
            Feed(seconds);
        } else if (value != 0xAA) {
            events_.Note(Format("PLL feed %02X out of sequence: ignored", value & 0xFF));
        }
        pllFeedArmed_ = value == 0xAA;
        return;
    case kPconp:
        pconp_ = value;
        rateChange_ = true;
        return;
    default: break;
    }
    if (lpc21) {
        if (offset != kVpbDiv) {
            StoredQuiet(0xE01FC000 + offset) = value;
        } else if ((value & 3) != 3) {  // 3 is reserved: the setting stays
            vpbdiv_ = value & 3;
            ClockChanged(seconds);
        }
        return;
    }
    switch (offset) {
    case kCclkCfg:
        cclkcfg_ = value & 0xFF;
        if (chip_.family == LpcFamily::Lpc23 && cclkcfg_ && !(cclkcfg_ & 1))
            ViolationOnce(Format("CCLKCFG %u: only 0 and odd values divide the clock correctly", cclkcfg_));
        ClockChanged(seconds);
        return;
    case kClkSrcSel:
        if ((value & 3) != clksrcsel_ && pll_.Connected())
            ViolationOnce("CLKSRCSEL was changed while the PLL was connected");
        if ((value & 3) == 1 && seconds < oscStableAt_)
            ViolationOnce("the main oscillator was selected before it was stable (SCS OSCSTAT)");
        if ((value & 3) == 3) ViolationOnce("CLKSRCSEL 3 is reserved");
        clksrcsel_ = value & 3;
        ClockChanged(seconds);
        return;
    case kScs:
        scs_ = value & ~kOscStat;
        if (!(value & kOscEn)) {
            oscStableAt_ = std::numeric_limits<double>::infinity();
        } else if (oscStableAt_ == std::numeric_limits<double>::infinity()) {
            oscStableAt_ = seconds + kOscStartSeconds;
            bool high = value & kOscRange;
            if ((high && crystalHz_ < 15e6) || (!high && crystalHz_ > 20e6))
                ViolationOnce(Format("SCS OSCRANGE %d does not fit a %.6g MHz crystal", high ? 1 : 0, crystalHz_ / 1e6));
        }
        return;
    case kPclkSel0:
    case kPclkSel1: {
        uint32_t& reg = offset == kPclkSel0 ? pclksel0_ : pclksel1_;
        if (value != reg && pll_.Connected())
            ViolationOnce("PCLKSEL was changed while the PLL was connected: set it before connecting");
        reg = value;
        ClockChanged(seconds);
        return;
    }
    case kFlashCfg:
        if (chip_.Cortex()) {
            flashcfg_ = value;
            ClockChanged(seconds);
            return;
        }
        break;
    default: break;
    }
    StoredQuiet((chip_.Cortex() ? 0x400FC000 : 0xE01FC000) + offset) = value;
}

// ---- UART0 ----------------------------------------------------------------------------

bool LpcSoc::TxPinConnected() const {
    uint32_t field = chip_.family == LpcFamily::Lpc21 ? pinsel0_ & 3 : (pinsel0_ >> 4) & 3;
    return field == 1;
}

bool LpcSoc::RxPinConnected() const {
    uint32_t field = chip_.family == LpcFamily::Lpc21 ? (pinsel0_ >> 2) & 3 : (pinsel0_ >> 6) & 3;
    return field == 1;
}

uint32_t LpcSoc::UartRate(std::string* why) const {
    auto none = [&](const char* text) {
        if (why) *why = text;
        return 0u;
    };
    if (!(pconp_ & (1u << 3))) return none("UART0 is switched off (PCONP)");
    if (!uart_.divisorWritten && PclkHz(3) == bootPclk_) return ispRate_;
    uint32_t divisor = uart_.dlm * 256 + uart_.dll;
    if (divisor == 0) return none("UART0's divisor is 0");
    uint32_t mul = chip_.fractionalDivider ? (uart_.fdr >> 4) & 0xF : 1;
    uint32_t add = chip_.fractionalDivider ? uart_.fdr & 0xF : 0;
    if (mul == 0) return none("UART0's MulVal is 0");
    double rate = PclkHz(3) / (16.0 * divisor * (1.0 + static_cast<double>(add) / mul));
    return rate < 1 ? none("UART0's rate is below 1 baud") : static_cast<uint32_t>(std::lround(rate));
}

std::string LpcSoc::UartSettings() const {
    std::string text = Format("PCLK %.0f Hz, divisor %u", PclkHz(3), uart_.dlm * 256 + uart_.dll);
    if (chip_.fractionalDivider) text += Format(", DivAddVal %u, MulVal %u", uart_.fdr & 0xF, (uart_.fdr >> 4) & 0xF);
    return text;
}

bool LpcSoc::TakeRateChange() {
    if (!rateChange_ || DivisorLatchOpen()) return false;
    rateChange_ = false;
    uint32_t add = uart_.fdr & 0xF, mul = (uart_.fdr >> 4) & 0xF;
    if (chip_.fractionalDivider && uart_.divisorWritten) {
        if (add >= mul && mul) ViolationOnce(Format("UART0 FDR: DivAddVal %u is not below MulVal %u", add, mul));
        if (add && uart_.dlm == 0 && uart_.dll < 3)
            ViolationOnce(Format("UART0: with a fractional divider the divisor must be 3 or more, not %u", uart_.dll));
    }
    return true;
}

void LpcSoc::Receive(uint8_t byte, double arrival) {
    std::string why;
    if (!RxPinConnected()) {
        NoteOnce("bytes reach RXD0, but the pin is not selected for UART0 (PINSEL0): lost");
        return;
    }
    if (!UartRate(&why)) {
        NoteOnce("bytes reach RXD0, but " + why + ": lost");
        return;
    }
    rx_.push_back({byte, arrival});
}

std::optional<double> LpcSoc::NextArrival() const {
    if (rx_.empty()) return std::nullopt;
    return rx_.front().second;
}

uint32_t LpcSoc::UartRead(uint32_t offset) {
    bool dlab = DivisorLatchOpen();
    progress_ = true;
    if (offset == 0x14) {  // LSR: RDR, THRE and TEMT (the transmitter never holds a byte back)
        bool ready = RxReady();
        if (ready) {
            uart_.emptyPolls = 0;
        } else if (++uart_.emptyPolls >= 2) {
            waitForInput_ = true;  // polled twice with nothing to read: it waits for the host
        }
        uint32_t oe = overrun_ ? 2u : 0u;
        overrun_ = false;
        return (ready ? 1u : 0u) | oe | 0x60;
    }
    uart_.emptyPolls = 0;
    switch (offset) {
    case 0x00:
        if (dlab) return uart_.dll;
        if (RxReady()) {
            uart_.lastRead = rx_.front().first;
            rx_.pop_front();
        }
        return uart_.lastRead;
    case 0x04: return dlab ? uart_.dlm : uart_.ier;
    case 0x08: return 0x01 | ((uart_.fcr & 1) ? 0xC0 : 0);  // no interrupt pending
    case 0x0C: return uart_.lcr;
    case 0x1C: return uart_.scr;
    case 0x28:
        if (chip_.fractionalDivider) return uart_.fdr;
        break;
    case 0x30: return uart_.ter;
    default: break;
    }
    return StoredQuiet(chip_.PeripheralBase() + kUartBlock + offset);
}

void LpcSoc::UartWrite(uint32_t offset, uint32_t value) {
    bool dlab = DivisorLatchOpen();
    progress_ = true;
    uart_.emptyPolls = 0;
    switch (offset) {
    case 0x00:
        if (dlab) {
            uart_.dll = value & 0xFF;
            uart_.divisorWritten = rateChange_ = true;
            return;
        }
        if (!pinselWritten_ && !pinselNoted_) {
            pinselNoted_ = true;
            events_.Note("the code leaves PINSEL0 as the boot ROM set it: TXD0 and RXD0 selected");
        }
        if (!TxPinConnected()) {
            NoteOnce("THR written, but TXD0 is not selected for UART0 (PINSEL0): not sent");
        } else if (!(uart_.ter & 0x80)) {
            NoteOnce("THR written, but the transmitter is disabled (TER): not sent");
        } else if (std::string why; !UartRate(&why)) {
            NoteOnce("THR written, but " + why + ": not sent");
        } else {
            events_.Transmit(static_cast<uint8_t>(value));
        }
        return;
    case 0x04:
        if (dlab) {
            uart_.dlm = value & 0xFF;
            uart_.divisorWritten = rateChange_ = true;
        } else {
            uart_.ier = value & 0x3FF;
            if (uart_.ier) NoteOnce("UART0 interrupts enabled: interrupts are not modelled");
        }
        return;
    case 0x08:
        uart_.fcr = value & 0xFF;
        if (value & 2)  // RX FIFO reset: what has arrived is thrown away
            while (RxReady()) rx_.pop_front();
        return;
    case 0x0C: {
        uint32_t old = uart_.lcr;
        uart_.lcr = value & 0xFF;
        if ((old & 0x80) && !(value & 0x80)) rateChange_ = true;
        if ((value & 0x7F) != 0x03 && (value & 0x7F) != (old & 0x7F)) {
            static const char* kParity[] = {"odd", "even", "mark", "space"};
            events_.Note(Format("UART0 line format: %u data bits, %s parity, %u stop bits", 5 + (value & 3),
                                (value & 8) ? kParity[(value >> 4) & 3] : "no", (value & 4) ? 2 : 1));
        }
        return;
    }
    case 0x1C: uart_.scr = value & 0xFF; return;
    case 0x28:
        if (chip_.fractionalDivider) {
            uart_.fdr = value & 0xFF;
            uart_.divisorWritten = rateChange_ = true;
            return;
        }
        break;
    case 0x30: uart_.ter = value & 0x80; return;
    default: break;
    }
    StoredQuiet(chip_.PeripheralBase() + kUartBlock + offset) = value;
}

// ---- GPDMA (LPC17xx) ------------------------------------------------------------------

LpcSoc::DmaChannel* LpcSoc::UartDmaChannel() {
    if (!chip_.Cortex() || !(dma_.config & 1) || !(pconp_ & (1u << 29))) return nullptr;
    for (DmaChannel& c : dma_.channel) {
        if (!(c.config & 1)) continue;
        const uint32_t peripheral = (c.config >> 1) & 0x1F, type = (c.config >> 11) & 7;
        const bool timerRequest = StoredQuiet(0x400FC000 + kDmaReqSel) & 2;
        if (peripheral != kUartDmaRequest || type != 2 || timerRequest || c.source != 0x4000C000 ||
            ((c.control >> 18) & 0x3F) != 0) {
            NoteOnce("GPDMA: a channel runs that does not move bytes from UART0's receiver into memory: "
                     "only that is modelled");
            continue;
        }
        // The receiver asks for DMA only with its FIFOs on and DMA mode selected.
        if ((uart_.fcr & 0x09) != 0x09) return nullptr;
        return &c;
    }
    return nullptr;
}

bool LpcSoc::ServiceDma() {
    DmaChannel* c = UartDmaChannel();
    bool moved = false;
    while (c && RxReady()) {
        moved = true;
        uint8_t byte = rx_.front().first;
        rx_.pop_front();
        if (stalled_) ++dmaDuringStall_;
        if (!events_.DmaWrite(c->destination, byte)) {
            ViolationOnce(Format("GPDMA: a write to %08X, where no RAM is", c->destination));
            c->config &= ~1u;
            dma_.intErr |= 1;
            return moved;
        }
        if (c->control & (1u << 27)) ++c->destination;
        uint32_t count = (c->control & 0xFFF) - 1;
        c->control = (c->control & ~0xFFFu) | count;
        if (count != 0) continue;
        dma_.intTc |= 1;
        uint32_t next[4];
        if (c->lli == 0) {
            c->config &= ~1u;  // the list ends: the channel stops
        } else if (!events_.DmaRead(c->lli, next, 4)) {
            ViolationOnce(Format("GPDMA: the linked list item at %08X is not in RAM", c->lli));
            c->config &= ~1u;
            dma_.intErr |= 1;
        } else {
            c->source = next[0];
            c->destination = next[1];
            c->lli = next[2] & ~3u;
            c->control = next[3];
        }
        c = UartDmaChannel();
    }
    return moved;
}

void LpcSoc::StallEnded(double end) {
    stalled_ = false;
    if (UartDmaChannel()) {
        size_t taken = dmaDuringStall_;
        dmaDuringStall_ = 0;
        if (taken)
            events_.Note(Format("GPDMA: %zu byte(s) from UART0 came in while the CPU was in the IAP", taken));
        return;
    }
    size_t arrived = 0, lost = 0;
    for (auto it = rx_.begin(); it != rx_.end() && it->second <= end;) {
        if (arrived++ >= kRxFifo) {
            it = rx_.erase(it);
            ++lost;
        } else {
            ++it;
        }
    }
    if (lost == 0) return;
    overrun_ = true;
    events_.Note(Format("UART0 receive FIFO overrun: %zu byte(s) that arrived while the CPU was in the IAP are "
                        "lost (the FIFO holds 16)", lost));
}

uint32_t LpcSoc::DmaRegisterRead(uint32_t offset, double seconds) {
    progress_ = true;
    switch (offset) {
    case 0x000: return dma_.intTc | dma_.intErr;
    case 0x004: return dma_.intTc;
    case 0x00C: return dma_.intErr;
    case 0x01C: {
        uint32_t enabled = 0;
        for (int i = 0; i < 8; ++i) enabled |= (dma_.channel[i].config & 1) << i;
        return enabled;
    }
    case 0x030: return dma_.config;
    default: break;
    }
    if (offset >= 0x100 && offset < 0x200) {
        DmaChannel& c = dma_.channel[(offset - 0x100) / 0x20];
        switch (offset % 0x20) {
        case 0x00: return c.source;
        case 0x04:
            // The code polls the destination for input. Unlike LSR, the register cannot
            // tell whether the code has taken all there is: only reads in quick
            // succession (a poll loop), unchanged and with nothing arrived, mean that it
            // waits for the host.
            if (c.destination == dma_.lastDestination && !RxReady() && seconds - dma_.lastReadAt < 2e-6) {
                if (++dma_.unchangedReads >= 3) waitForInput_ = true;
            } else {
                dma_.unchangedReads = 0;
            }
            dma_.lastDestination = c.destination;
            dma_.lastReadAt = seconds;
            return c.destination;
        case 0x08: return c.lli;
        case 0x0C: return c.control;
        case 0x10: return c.config;
        default: break;
        }
    }
    return StoredQuiet(kGpdmaBase + offset);
}

void LpcSoc::DmaRegisterWrite(uint32_t offset, uint32_t value) {
    progress_ = true;
    switch (offset) {
    case 0x008: dma_.intTc &= ~value; return;
    case 0x010: dma_.intErr &= ~value; return;
    case 0x030: dma_.config = value & 3; return;
    default: break;
    }
    if (offset >= 0x100 && offset < 0x200) {
        DmaChannel& c = dma_.channel[(offset - 0x100) / 0x20];
        switch (offset % 0x20) {
        case 0x00: c.source = value; return;
        case 0x04: c.destination = value; return;
        case 0x08: c.lli = value & ~3u; return;
        case 0x0C: c.control = value; return;
        case 0x10: c.config = value; return;
        default: break;
        }
    }
    StoredQuiet(kGpdmaBase + offset) = value;
}

// ---- watchdog -------------------------------------------------------------------------

std::optional<double> LpcSoc::WatchdogDue() const {
    if (!wdt_.running) return std::nullopt;
    return wdt_.fedAt + 4.0 * wdt_.tc / WatchdogClockHz();
}

void LpcSoc::WatchdogEvent(const std::string& why) {
    if (wdt_.mod & 2) {
        reset_ = "watchdog reset (" + why + ")";
    } else {
        wdt_.mod |= 4;  // WDTOF; the interrupt it raises is not modelled
        events_.Note("watchdog " + why + " without WDRESET: an interrupt, which is not modelled");
    }
    wdt_.running = false;
}

void LpcSoc::CheckWatchdog(double seconds) {
    std::optional<double> due = WatchdogDue();
    if (due && seconds >= *due) WatchdogEvent("time-out");
}

uint32_t LpcSoc::WatchdogRead(uint32_t offset, double seconds) {
    if (wdt_.feedArmed && wdt_.running) WatchdogEvent("feed sequence broken");
    wdt_.feedArmed = false;
    switch (offset) {
    case 0x00: return wdt_.mod;
    case 0x04: return wdt_.tc;
    case 0x0C: {
        if (!wdt_.running) return wdt_.tc;
        double left = wdt_.tc - (seconds - wdt_.fedAt) * WatchdogClockHz() / 4;
        return left <= 0 ? 0 : static_cast<uint32_t>(left);
    }
    case 0x10:
        if (chip_.family != LpcFamily::Lpc21) return wdt_.clksel;
        break;
    default: break;
    }
    return StoredQuiet(chip_.PeripheralBase() + kWdtBlock + offset);
}

void LpcSoc::WatchdogWrite(uint32_t offset, uint32_t value, double seconds) {
    bool feed = offset == 0x08;
    if (wdt_.feedArmed && wdt_.running && !(feed && (value & 0xFF) == 0x55)) WatchdogEvent("feed sequence broken");
    switch (offset) {
    case 0x00:
        wdt_.mod |= value & 3;  // WDEN and WDRESET stay set until a reset
        if (!(value & 4)) wdt_.mod &= ~4u;
        return;
    case 0x04: wdt_.tc = std::max<uint32_t>(value, 0xFF); return;
    case 0x08:
        if (wdt_.feedArmed && (value & 0xFF) == 0x55) {
            wdt_.feedArmed = false;
            if (wdt_.mod & 1) {
                if (!wdt_.running)
                    events_.Note(Format("watchdog started: %s after %.6g ms", (wdt_.mod & 2) ? "reset" : "time-out",
                                        4e3 * wdt_.tc / WatchdogClockHz()));
                wdt_.running = true;
                wdt_.fedAt = seconds;
                progress_ = true;
            }
            return;
        }
        wdt_.feedArmed = (value & 0xFF) == 0xAA;
        return;
    case 0x10:
        if (chip_.family != LpcFamily::Lpc21) {
            wdt_.clksel = value & 3;
            return;
        }
        break;
    default: break;
    }
    StoredQuiet(chip_.PeripheralBase() + kWdtBlock + offset) = value;
}

// ---- dispatch -------------------------------------------------------------------------

void LpcSoc::SystemControlWrite(uint32_t offset, uint32_t value) {
    if (offset != 0xD0C) {
        StoredQuiet(kScsBase + offset) = value;
        return;
    }
    // AIRCR: only writes with the key 0x05FA in the upper half count.
    if ((value >> 16) != 0x05FA) {
        events_.Note(Format("AIRCR %08X without VECTKEY 05FA: ignored", value));
        return;
    }
    StoredQuiet(kScsBase + offset) = value & 0x700;  // PRIGROUP
    if (value & 4) {
        reset_ = "SYSRESETREQ";
    } else if (value & 1) {
        reset_ = "VECTRESET";
    }
    progress_ = true;
}

uint32_t& LpcSoc::StoredQuiet(uint32_t address) { return stored_[address]; }

uint32_t& LpcSoc::Stored(uint32_t address) {
    if (unmodelledNoted_.insert(address & ~0xFFFu).second)
        events_.Note(Format("register %08X is not modelled: it reads back what was written", address));
    return stored_[address];
}

uint32_t LpcSoc::ReadWord(uint32_t address, double seconds) {
    uint32_t base = chip_.PeripheralBase();
    uint32_t sc = chip_.Cortex() ? 0x400FC000 : 0xE01FC000;
    pllFeedArmed_ = false;  // the two feed writes must be consecutive bus cycles
    if (address - base < 0x1000) return WatchdogRead(address - base, seconds);
    if (address - (base + kUartBlock) < 0x1000) return UartRead(address - base - kUartBlock);
    if (address == base + kPinselBlock) return pinsel0_;
    if (address - sc < 0x1000) return ClockRead(address - sc, seconds);
    if (chip_.Cortex() && address - kGpdmaBase < 0x1000) return DmaRegisterRead(address - kGpdmaBase, seconds);
    if (chip_.Cortex() && address - kScsBase < 0x1000) {
        if (address == kScsBase + 0xD00) return kCpuid;
        if (address == kScsBase + 0xD0C) return 0xFA050000 | stored_[address];
        return StoredQuiet(address);
    }
    return Stored(address);
}

void LpcSoc::WriteWord(uint32_t address, uint32_t value, uint32_t mask, double seconds) {
    uint32_t base = chip_.PeripheralBase();
    uint32_t sc = chip_.Cortex() ? 0x400FC000 : 0xE01FC000;
    if (address != sc + kPllFeed) pllFeedArmed_ = false;
    if (address - base < 0x1000) return WatchdogWrite(address - base, value, seconds);
    if (address - (base + kUartBlock) < 0x1000) return UartWrite(address - base - kUartBlock, value);
    if (address == base + kPinselBlock) {
        pinsel0_ = value;
        pinselWritten_ = rateChange_ = true;
        if (!TxPinConnected() || !RxPinConnected())
            events_.Note("PINSEL0: TXD0 and RXD0 are not both selected: UART0 is cut off from the line");
        return;
    }
    if (address - sc < 0x1000) return ClockWrite(address - sc, value, seconds);
    if (chip_.Cortex() && address - kScsBase < 0x1000) return SystemControlWrite(address - kScsBase, value);
    if (chip_.Cortex() && address - kGpdmaBase < 0x1000) return DmaRegisterWrite(address - kGpdmaBase, value);
    uint32_t& reg = Stored(address);
    reg = (reg & ~mask) | (value & mask);
}

uint32_t LpcSoc::Read(uint32_t address, unsigned size, double seconds) {
    unsigned shift = (address & 3) * 8;
    uint32_t word = ReadWord(address & ~3u, seconds);
    uint32_t mask = size >= 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
    return (word >> shift) & mask;
}

void LpcSoc::Write(uint32_t address, unsigned size, uint32_t value, double seconds) {
    unsigned shift = (address & 3) * 8;
    uint32_t mask = size >= 4 ? 0xFFFFFFFFu : ((1u << (8 * size)) - 1) << shift;
    WriteWord(address & ~3u, (value << shift) & mask, mask, seconds);
}

bool LpcSoc::TakeWaitForInput() {
    bool waiting = waitForInput_;
    waitForInput_ = false;
    return waiting;
}

bool LpcSoc::TakeProgress() {
    bool p = progress_;
    progress_ = false;
    return p;
}

std::string LpcSoc::TakeReset() {
    std::string r;
    r.swap(reset_);
    return r;
}
