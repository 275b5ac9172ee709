#include "protocols/lpc_emu.hpp"

#ifdef VORLO_SIM_UNICORN

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "protocols/lpc_soc.hpp"
#include "text.hpp"

namespace {

constexpr uint64_t kSliceInstructions = 200'000;
// ... or this much real time, whichever comes first: on a loaded host (or in a sanitizer
// build) the replies the code queued must still go out about when they are due.
constexpr auto kSliceTime = std::chrono::milliseconds(5);
// A routine that neither talks, nor programs the flash, nor feeds the watchdog for this
// long (at its CPU clock) or this many instructions has run away.
constexpr double kRunawaySeconds = 2.0;
constexpr uint64_t kRunawayInstructions = 20'000'000;
// While the code waits for input it is woken this often anyway, so that its own
// time-outs make some progress.
constexpr auto kIdleTick = std::chrono::milliseconds(100);
constexpr uint8_t kIapScratch = 0xA5;  // what the IAP leaves in the top 32 bytes of RAM

uint32_t PageUp(uint32_t size) { return (size + 0xFFFu) & ~0xFFFu; }

class Emulator;

struct MmioRegion {
    Emulator* self;
    uint32_t base;
};

class Emulator : public LpcEmulator, private LpcSocEvents {
public:
    Emulator(const LpcPart& part, const LpcChip& chip, const LpcEmuStart& start, LpcFlash& flash, Target& t)
        : part_(part), chip_(chip), start_(start), flash_(flash), t_(&t),
          soc_(chip, start.crystalKhz * 1000.0, start.ispRate, *this), prepared_(t.Memory().Sectors().size(), false),
          rate_(start.ispRate), epoch_(SimClock::now()) {}

    ~Emulator() override {
        if (uc_) uc_close(uc_);
    }

    bool Open(std::string& why) {
        bool cortex = chip_.Cortex();
        uc_mode mode = cortex ? static_cast<uc_mode>(UC_MODE_THUMB | UC_MODE_MCLASS) : UC_MODE_ARM;
        if (uc_open(UC_ARCH_ARM, mode, &uc_) != UC_ERR_OK) {
            why = "the CPU emulator cannot be opened";
            return false;
        }
        // The TI925T is an ARMv4T core like the ARM7TDMI-S: ARM and Thumb with BX
        // interworking, and no ARMv5 instructions (BLX, CLZ), which an ARM7 lacks too.
        uc_ctl_set_cpu_model(uc_, cortex ? UC_CPU_ARM_CORTEX_M3 : UC_CPU_ARM_TI925T);

        TargetMemory& memory = t_->Memory();
        ram_.assign(chip_.localRam, 0);
        uint32_t where = 0;
        uint32_t shared = std::min(chip_.localRam, memory.RamSize());
        memory.Read(chip_.RamBase(), std::span<uint8_t>(ram_.data(), shared), where);
        bool ok = uc_mem_map_ptr(uc_, chip_.RamBase(), ram_.size(), UC_PROT_ALL, ram_.data()) == UC_ERR_OK;
        for (const LpcChip::Ram& r : chip_.otherRam) ok = ok && uc_mem_map(uc_, r.base, r.size, UC_PROT_ALL) == UC_ERR_OK;
        // The flash: readable, not executable (a jump there starts the user code), and
        // written only through the IAP.
        flashImage_.assign(PageUp(memory.Size()), 0xFF);
        memory.Read(0, std::span<uint8_t>(flashImage_.data(), memory.Size()), where);
        if (!flashImage_.empty())
            ok = ok && uc_mem_map_ptr(uc_, 0, flashImage_.size(), UC_PROT_READ, flashImage_.data()) == UC_ERR_OK;
        // The boot ROM: its IAP entry returns at once with BX LR (Thumb); the rest is not
        // modelled.
        romBase_ = cortex ? 0x1FFF0000u : 0x7FFFD000u;
        romSize_ = cortex ? 0x2000u : 0x3000u;
        ok = ok && uc_mem_map(uc_, romBase_, romSize_, UC_PROT_READ | UC_PROT_EXEC) == UC_ERR_OK;
        const uint8_t bxLr[] = {0x70, 0x47};
        ok = ok && uc_mem_write(uc_, chip_.IapEntry() & ~1u, bxLr, sizeof bxLr) == UC_ERR_OK;
        returnAddress_ = romBase_ + 0x100;
        // The peripherals.
        static const std::pair<uint32_t, uint32_t> kArm7Io[] = {
            {0xE0000000, 0x200000}, {0xFFE00000, 0x200000}, {0x3FFFC000, 0x4000}};
        static const std::pair<uint32_t, uint32_t> kCortexIo[] = {
            {0x40000000, 0x100000}, {0x50000000, 0x200000}, {0x2009C000, 0x4000}, {0xE0000000, 0x100000}};
        std::span<const std::pair<uint32_t, uint32_t>> io = kArm7Io;
        if (cortex) io = kCortexIo;
        for (const auto& [base, size] : io) {
            regions_.push_back(std::make_unique<MmioRegion>(MmioRegion{this, base}));
            MmioRegion* r = regions_.back().get();
            ok = ok && uc_mmio_map(uc_, base, size, OnRead, r, OnWrite, r) == UC_ERR_OK;
        }
        uc_hook hook;
        ok = ok && uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(OnBlock), this, 1, 0) == UC_ERR_OK;
        ok = ok && uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(OnInvalid), this, 1, 0) == UC_ERR_OK;
        ok = ok && uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(OnException), this, 1, 0) == UC_ERR_OK;
        if (!ok) {
            why = "the CPU emulator cannot map the part's memory";
            return false;
        }
        // The boot ROM's stack pointer: the top of the RAM less the 32 bytes its IAP
        // uses. A return from the code lands in the boot ROM.
        uint32_t sp = chip_.RamTop() - 32;
        uint32_t lr = returnAddress_ | (cortex || start_.thumb ? 1 : 0);
        uc_reg_write(uc_, UC_ARM_REG_SP, &sp);
        uc_reg_write(uc_, UC_ARM_REG_LR, &lr);
        pc_ = start_.address | (cortex || start_.thumb ? 1 : 0);
        std::memcpy(top32_, &ram_[ram_.size() - 32], 32);
        return true;
    }

    void Receive(uint8_t byte, Target& t) override {
        t_ = &t;
        if (!t.Received("uart0", byte)) return;
        soc_.Receive(byte, RealSeconds(t.Now()));
    }

    SimTime Work(Target& t) override {
        t_ = &t;
        if (end_ != LpcEmuEnd::Running) return SimTime::max();
        SimTime now = SimClock::now();
        double real = RealSeconds(now);
        soc_.SetRealTime(real);
        if (soc_.ServiceDma()) dmaMoved_ = true;
        if (idleSince_) {  // the CPU waited for input or for the flash: that time passed for it too
            seconds_ += real - *idleSince_;
            idleSince_ = real;
        }
        soc_.CheckWatchdog(seconds_);
        if (TakeReset()) return SimTime::max();
        if (now < busyUntil_) return busyUntil_;
        if (stalled_) {
            stalled_ = false;
            soc_.StallEnded(RealSeconds(busyUntil_));
        }
        std::optional<double> next = soc_.NextArrival();
        if (waiting_ && !dmaMoved_ && !(next && *next <= real)) return NextWake(now);
        waiting_ = false;
        dmaMoved_ = false;
        idleSince_.reset();

        RunSlice();
        if (end_ == LpcEmuEnd::Running && TakeReset()) return SimTime::max();
        UpdateRate();
        Flush();
        if (end_ != LpcEmuEnd::Running) return SimTime::max();
        now = SimClock::now();
        if (soc_.TakeWaitForInput()) {
            waiting_ = true;
            idleSince_ = RealSeconds(now);
            return NextWake(now);
        }
        if (busyUntil_ > now) {
            idleSince_ = RealSeconds(now);
            return busyUntil_;
        }
        return now;
    }

    LpcEmuEnd End() const override { return end_; }
    uint32_t EndAddress() const override { return endAddress_; }

    void Finish(Target& t) override {
        uint32_t where = 0;
        uint32_t shared = std::min(chip_.localRam, t.Memory().RamSize());
        t.Memory().WriteRam(chip_.RamBase(), std::span<const uint8_t>(ram_.data(), shared), where);
    }

private:
    // ---- the run loop -------------------------------------------------------------

    double RealSeconds(SimTime when) const { return std::chrono::duration<double>(when - epoch_).count(); }

    SimTime NextWake(SimTime now) const {
        SimTime wake = now + kIdleTick;
        auto at = [&](double seconds) {
            return epoch_ + std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(seconds));
        };
        if (std::optional<double> next = soc_.NextArrival()) wake = std::min(wake, at(*next));
        if (std::optional<double> due = soc_.WatchdogDue())
            wake = std::min(wake, now + std::chrono::duration_cast<SimClock::duration>(
                                            std::chrono::duration<double>(std::max(0.0, *due - seconds_))));
        return wake;
    }

    void RunSlice() {
        slice_ = 0;
        stopAtBlock_ = false;
        sliceStart_ = seconds_;
        sliceDeadline_ = SimClock::now() + kSliceTime;
        Peripherals();
        uc_err err = uc_emu_start(uc_, pc_, 0xFFFFFFFF, 0, 0);
        uint32_t pc = 0;
        uc_reg_read(uc_, UC_ARM_REG_PC, &pc);
        bool thumb = chip_.Cortex();
        if (!thumb) {
            uint32_t cpsr = 0;
            uc_reg_read(uc_, UC_ARM_REG_CPSR, &cpsr);
            thumb = cpsr & 0x20;
        }
        pc_ = pc | (thumb ? 1 : 0);
        if (pc == (chip_.IapEntry() & ~1u) && end_ == LpcEmuEnd::Running && err == UC_ERR_OK) {
            // Stopped in the IAP (the flash is busy) before its BX LR ran: the call
            // returns when the CPU runs again. BX LR: bit 0 of LR selects Thumb.
            uint32_t lr = 0;
            uc_reg_read(uc_, UC_ARM_REG_LR, &lr);
            pc_ = chip_.Cortex() ? lr | 1 : lr;
        }
        if (end_ == LpcEmuEnd::Running && err == UC_ERR_OK) CheckRunaway(pc);
        if (end_ != LpcEmuEnd::Running || err == UC_ERR_OK) return;
        if (err == UC_ERR_INSN_INVALID) {
            uint32_t word = 0;
            uc_mem_read(uc_, pc, &word, thumb ? 2 : 4);
            Fault(Format("undefined instruction %0*X at %08X", thumb ? 4 : 8, word, pc));
        } else {
            Fault(Format("%s at %08X", uc_strerror(err), pc));
        }
    }

    bool TakeReset() {
        std::string reset = soc_.TakeReset();
        if (reset.empty()) return false;
        Flush();
        t_->Note("lpc_isp: emu: " + reset + ": the part resets");
        end_ = LpcEmuEnd::Reset;
        return true;
    }

    void Stop() { uc_emu_stop(uc_); }

    void Fault(const std::string& what) {
        if (end_ != LpcEmuEnd::Running) return;
        Flush();
        t_->Warn("lpc_isp: emu: " + what + ": the target stays silent");
        end_ = LpcEmuEnd::Stopped;
        Stop();
    }

    void UpdateRate() {
        if (!soc_.TakeRateChange()) return;
        std::string why;
        uint32_t rate = soc_.UartRate(&why);
        if (rate == rate_) return;
        Flush();  // what was sent so far leaves at the old rate
        rate_ = rate;
        if (rate) {
            t_->Note(Format("lpc_isp: emu: UART0 at %u baud (", rate) + soc_.UartSettings() + ")");
            t_->SwitchLineRate(rate);
        } else {
            t_->Note("lpc_isp: emu: " + why);
        }
    }

    // The bytes sent since the code last waited for input form one reply.
    void Flush() {
        if (tx_.empty()) return;
        t_->Reply("emu", tx_);
        tx_.clear();
    }

    void Note(const std::string& text) override { t_->Note("lpc_isp: emu: " + text); }
    void Violation(const std::string& text) override { t_->Warn("lpc_isp: emu: violation: " + text); }
    void ViolationOnce(const std::string& text) {
        if (violations_.insert(text).second) Violation(text);
    }
    void Transmit(uint8_t byte) override {
        UpdateRate();
        tx_.push_back(byte);
    }
    bool DmaWrite(uint32_t address, uint8_t byte) override {
        return InRam(address, 1) && uc_mem_write(uc_, address, &byte, 1) == UC_ERR_OK;
    }
    bool DmaRead(uint32_t address, uint32_t* words, size_t count) override {
        return InRam(address, 4 * count) && uc_mem_read(uc_, address, words, 4 * count) == UC_ERR_OK;
    }

    // ---- hooks --------------------------------------------------------------------

    static uint64_t OnRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto* r = static_cast<MmioRegion*>(user);
        Emulator& e = *r->self;
        uint32_t value = e.soc_.Read(r->base + static_cast<uint32_t>(offset), size, e.seconds_);
        if (e.soc_.StopWanted()) e.stopAtBlock_ = true;
        return value;
    }

    static void OnWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
        auto* r = static_cast<MmioRegion*>(user);
        Emulator& e = *r->self;
        e.soc_.Write(r->base + static_cast<uint32_t>(offset), size, static_cast<uint32_t>(value), e.seconds_);
        e.Peripherals();
        if (e.soc_.StopWanted()) e.stopAtBlock_ = true;
    }

    // Called for every block of code the CPU runs: kept short, it sets the emulation's pace.
    // The CPU stops only here, at the start of a block: stopped inside a register access,
    // it would report the start of the access's block as its PC with the block's earlier
    // instructions (a push) already done, and do them again; and never inside a Thumb-2
    // IT block (a block may start there at a page boundary), whose state a restart loses.
    static void OnBlock(uc_engine* uc, uint64_t address, uint32_t size, void* user) {
        Emulator& e = *static_cast<Emulator*>(user);
        // The boot ROM is seen block by block, not through a hook on each instruction:
        // with such a hook in place, the engine does not stop cleanly in a block hook.
        if (address - e.romBase_ < e.romSize_) OnRom(uc, address, size, user);
        uint64_t n = std::max<uint64_t>(1, size / (e.chip_.Cortex() ? 2 : 4));
        e.seconds_ += n * e.period_;  // about one instruction per clock
        e.slice_ += n;
        if (e.slice_ >= kSliceInstructions || ((++e.blocks_ & 0x3FF) == 0 && SimClock::now() >= e.sliceDeadline_))
            e.stopAtBlock_ = true;
        if (e.seconds_ >= e.watchdogDue_) {
            e.soc_.CheckWatchdog(e.seconds_);
            e.Peripherals();
            e.stopAtBlock_ = true;
        }
        if (e.stopAtBlock_ && !e.InItBlock()) {
            e.stopAtBlock_ = false;
            e.Stop();
        }
    }

    bool InItBlock() const {
        if (!chip_.Cortex()) return false;
        uint32_t xpsr = 0;
        uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
        return (xpsr & 0x0600FC00u) != 0;
    }

    // After the peripherals may have changed: the CPU clock and the watchdog's time-out.
    void Peripherals() {
        period_ = 1.0 / soc_.CclkHz();
        watchdogDue_ = soc_.WatchdogDue().value_or(std::numeric_limits<double>::infinity());
    }

    // A routine that does nothing the host could see for too long has run away; one that
    // only waits for its watchdog gets the watchdog's time-out at once.
    void CheckRunaway(uint32_t pc) {
        if (soc_.TakeProgress()) {
            quietInstructions_ = 0;
            quietSeconds_ = 0;
            return;
        }
        quietInstructions_ += slice_;
        quietSeconds_ += seconds_ - sliceStart_;
        if (quietInstructions_ < kRunawayInstructions && quietSeconds_ < kRunawaySeconds) return;
        if (soc_.WatchdogResets()) {
            seconds_ = std::max(seconds_, *soc_.WatchdogDue());
            soc_.CheckWatchdog(seconds_);
            return;
        }
        Fault(Format("the code runs away: %.3g s of CPU time (%llu instructions) without using the UART, the IAP "
                     "or the watchdog, at %08X",
                     quietSeconds_, static_cast<unsigned long long>(quietInstructions_), pc));
    }

    static void OnRom(uc_engine*, uint64_t address, uint32_t, void* user) {
        Emulator& e = *static_cast<Emulator*>(user);
        if (e.end_ != LpcEmuEnd::Running) return;
        if (address == (e.chip_.IapEntry() & ~1u)) {
            e.Iap();
        } else if (address == e.returnAddress_) {
            e.Fault("the code returned to the boot ROM");
        } else {
            e.Fault(Format("the code runs boot ROM code at %08X, which is not modelled", static_cast<uint32_t>(address)));
        }
    }

    static bool OnInvalid(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
        Emulator& e = *static_cast<Emulator*>(user);
        auto a = static_cast<uint32_t>(address);
        uint32_t pc = 0;
        uc_reg_read(uc, UC_ARM_REG_PC, &pc);
        bool inFlash = address < e.flashImage_.size();
        if (type == UC_MEM_FETCH_PROT && inFlash) {
            e.end_ = LpcEmuEnd::UserCode;
            e.endAddress_ = a;
            e.Flush();
        } else if (type == UC_MEM_WRITE_PROT && inFlash) {
            e.Fault(Format("a write to the flash at %08X (PC %08X): only the IAP programs it", a, pc));
        } else {
            const char* what = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT ? "a jump to"
                               : type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT ? "a write to"
                                                                                             : "a read from";
            e.Fault(Format("%s unmapped memory at %08X (%d bytes, PC %08X)", what, a, size, pc));
        }
        return false;
    }

    static void OnException(uc_engine* uc, uint32_t number, void* user) {
        Emulator& e = *static_cast<Emulator*>(user);
        static const char* kNames[] = {"", "undefined instruction", "software interrupt", "prefetch abort",
                                       "data abort", "interrupt", "fast interrupt", "breakpoint", "exception return"};
        uint32_t pc = 0;
        uc_reg_read(uc, UC_ARM_REG_PC, &pc);
        const char* name = number < std::size(kNames) ? kNames[number] : "exception";
        e.Fault(Format("%s (exception %u) at %08X: exceptions are not modelled", name, number, pc));
    }

    // ---- the IAP --------------------------------------------------------------------

    bool InRam(uint64_t a, uint64_t n) const {
        if (a >= chip_.RamBase() && a + n <= chip_.RamTop()) return true;
        for (const LpcChip::Ram& r : chip_.otherRam)
            if (a >= r.base && a + n <= uint64_t{r.base} + r.size) return true;
        return false;
    }
    bool InFlash(uint64_t a, uint64_t n) const { return a + n <= t_->Memory().Size(); }
    bool Sectors(uint32_t first, uint32_t last) const { return first <= last && last < prepared_.size(); }

    void CheckClock(uint32_t khz) {
        double cclk = soc_.CclkHz() / 1000;
        if (std::fabs(khz - cclk) > cclk * 0.05)
            ViolationOnce(Format("the IAP is told the CPU runs at %u kHz, but CCLK is %.0f kHz", khz, cclk));
    }

    // The flash image the CPU reads follows the flash model.
    void Refresh(uint32_t address, uint32_t count) {
        uint32_t where = 0;
        t_->Memory().Read(address, std::span<uint8_t>(flashImage_.data() + address, count), where);
    }

    void CheckStack(uint32_t sp) {
        uint32_t top = chip_.RamTop();
        uint8_t now[32];
        uc_mem_read(uc_, top - 32, now, sizeof now);
        bool local = sp > chip_.RamBase() && sp <= top;
        if (local && sp > top - 32) {
            ViolationOnce(Format("the stack (SP %08X) reaches into the top 32 bytes of RAM, which the IAP uses", sp));
        } else if (std::memcmp(now, top32_, sizeof now) != 0) {
            ViolationOnce(Format("the code keeps data in the top 32 bytes of RAM (from %08X), which the IAP uses", top - 32));
        }
        if (local && sp - chip_.RamBase() < 128) ViolationOnce(Format("SP %08X leaves less than the IAP's 128 bytes of stack", sp));
        std::memset(top32_, kIapScratch, sizeof top32_);
        uc_mem_write(uc_, top - 32, top32_, sizeof top32_);
    }

    void Iap() {
        uint32_t table = 0, result = 0, sp = 0, cpsr = 0;
        uc_reg_read(uc_, UC_ARM_REG_R0, &table);
        uc_reg_read(uc_, UC_ARM_REG_R1, &result);
        uc_reg_read(uc_, UC_ARM_REG_SP, &sp);
        if (!chip_.Cortex()) uc_reg_read(uc_, UC_ARM_REG_CPSR, &cpsr);
        if (!chip_.Cortex() && !(cpsr & 0x20)) {
            Fault(Format("the IAP entry %08X was entered in ARM state: it is Thumb code", chip_.IapEntry()));
            return;
        }
        soc_.MarkProgress();
        uint32_t p[5] = {};
        if (uc_mem_read(uc_, table, p, sizeof p) != UC_ERR_OK) {
            Fault(Format("the IAP command table at %08X cannot be read", table));
            return;
        }
        CheckStack(sp);
        uint32_t out[5] = {};
        size_t words = 1;
        std::chrono::milliseconds busy{};
        out[0] = Command(p, out, words, busy);
        if (end_ != LpcEmuEnd::Running) return;
        if (uc_mem_write(uc_, result, out, words * 4) != UC_ERR_OK) {
            Fault(Format("the IAP result table at %08X cannot be written", result));
            return;
        }
        // The parameters as NXP's manuals write them: addresses in hexadecimal, the rest decimal.
        std::string params;
        static const uint32_t kParams[] = {2, 4, 3, 2, 0, 0, 3};  // of commands 50 to 56
        uint32_t count = p[0] >= 50 && p[0] <= 56 ? kParams[p[0] - 50] : 0;
        for (uint32_t i = 1; i <= count; ++i) params += Format(p[i] > 0xFFFF ? "%s0x%X" : "%s%u", i > 1 ? ", " : "", p[i]);
        t_->Note(Format("lpc_isp: emu: IAP command %u (%s): status %u", p[0], params.c_str(), out[0]));
        if (busy.count()) {
            busyUntil_ = SimClock::now() + busy;
            stalled_ = true;
            soc_.StallStarted();
            Stop();
        }
    }

    uint32_t Command(const uint32_t* p, uint32_t* out, size_t& words, std::chrono::milliseconds& busy) {
        TargetMemory& memory = t_->Memory();
        switch (p[0]) {
        case 50:  // prepare sectors
            if (!Sectors(p[1], p[2])) return kInvalidSector;
            std::fill(prepared_.begin() + p[1], prepared_.begin() + p[2] + 1, true);
            return kSuccess;
        case 51: {  // copy RAM to flash
            uint32_t dst = p[1], src = p[2], count = p[3];
            CheckClock(p[4]);
            if (dst % 256) return kDstAddrError;
            if (src % 4) return kSrcAddrError;
            if (!part_.CopyCountValid(count)) return kCountError;
            if (!InFlash(dst, count)) return kDstAddrNotMapped;
            if (!InRam(src, count)) return kSrcAddrNotMapped;
            for (size_t s = *memory.SectorAt(dst); s <= *memory.SectorAt(dst + count - 1); ++s)
                if (!prepared_[s]) return kSectorNotPrepared;
            std::vector<uint8_t> data(count);
            uc_mem_read(uc_, src, data.data(), count);
            flash_.ProgramFlash(dst, data, *t_);
            Refresh(dst, count);
            std::fill(prepared_.begin(), prepared_.end(), false);
            if (start_.timed) busy = std::chrono::milliseconds(count / 256);
            return kSuccess;
        }
        case 52:  // erase sectors
            CheckClock(p[3]);
            if (!Sectors(p[1], p[2])) return kInvalidSector;
            for (uint32_t s = p[1]; s <= p[2]; ++s)
                if (!prepared_[s]) return kSectorNotPrepared;
            flash_.EraseFlash(p[1], p[2], *t_);
            Refresh(memory.Sectors()[p[1]].start,
                    memory.Sectors()[p[2]].start + memory.Sectors()[p[2]].size - memory.Sectors()[p[1]].start);
            std::fill(prepared_.begin(), prepared_.end(), false);
            busy = std::chrono::milliseconds(start_.eraseMs);
            return kSuccess;
        case 53: {  // blank check sectors
            if (!Sectors(p[1], p[2])) return kInvalidSector;
            uint32_t from = memory.Sectors()[p[1]].start;
            uint32_t to = memory.Sectors()[p[2]].start + memory.Sectors()[p[2]].size;
            for (uint32_t a = from; a < to; a += 4) {
                uint32_t word = 0;
                std::memcpy(&word, &flashImage_[a], 4);
                if (word == 0xFFFFFFFFu) continue;
                out[1] = a - from;
                out[2] = word;
                words = 3;
                return kSectorNotBlank;
            }
            return kSuccess;
        }
        case 54: out[1] = start_.partId; words = 2; return kSuccess;
        case 55: out[1] = start_.bootVersion; words = 2; return kSuccess;
        case 56: {  // compare
            uint32_t a = p[1], b = p[2], count = p[3];
            if (a % 4 || b % 4) return kAddrError;
            if (count % 4) return kCountError;
            for (uint32_t x : {a, b})
                if (!InFlash(x, count) && !InRam(x, count)) return kAddrNotMapped;
            std::vector<uint8_t> x(count), y(count);
            uc_mem_read(uc_, a, x.data(), count);
            uc_mem_read(uc_, b, y.data(), count);
            for (uint32_t i = 0; i < count; i += 4) {
                if (std::memcmp(&x[i], &y[i], 4) == 0) continue;
                out[1] = i;
                words = 2;
                return kCompareError;
            }
            return kSuccess;
        }
        case 57:  // reinvoke ISP
            Flush();
            t_->Note("lpc_isp: emu: IAP 57: the boot ROM enters ISP again");
            end_ = LpcEmuEnd::ReinvokeIsp;
            Stop();
            return kSuccess;
        case 58:  // read the serial number
            std::copy(start_.serial.begin(), start_.serial.end(), out + 1);
            words = 5;
            return kSuccess;
        default:
            return kInvalidCommand;
        }
    }

    const LpcPart& part_;
    LpcChip chip_;
    LpcEmuStart start_;
    LpcFlash& flash_;
    Target* t_;
    LpcSoc soc_;
    std::vector<bool> prepared_;
    uc_engine* uc_ = nullptr;
    std::vector<std::unique_ptr<MmioRegion>> regions_;
    std::vector<uint8_t> ram_;
    std::vector<uint8_t> flashImage_;
    uint32_t romBase_ = 0;
    uint32_t romSize_ = 0;
    uint32_t returnAddress_ = 0;
    uint8_t top32_[32] = {};
    std::set<std::string> violations_;

    uint32_t pc_ = 0;
    uint32_t rate_;
    std::vector<uint8_t> tx_;
    LpcEmuEnd end_ = LpcEmuEnd::Running;
    uint32_t endAddress_ = 0;

    SimTime epoch_;                       // real time 0 of the emulation
    double seconds_ = 0;                  // the CPU's own time
    std::optional<double> idleSince_;     // real time since which the CPU waits
    bool waiting_ = false;                // for input
    SimTime busyUntil_{};                 // the IAP works on the flash
    bool stalled_ = false;                // the CPU is in an IAP call that takes time
    bool dmaMoved_ = false;               // input the CPU has not seen yet came by DMA
    bool stopAtBlock_ = false;            // a register access asked the CPU to stop
    uint64_t slice_ = 0;
    uint64_t blocks_ = 0;
    SimTime sliceDeadline_{};
    double sliceStart_ = 0;
    double period_ = 0;                   // of the CPU clock
    double watchdogDue_ = 0;
    uint64_t quietInstructions_ = 0;      // since the code last did its job
    double quietSeconds_ = 0;
};

}  // namespace

std::unique_ptr<LpcEmulator> StartLpcEmulator(const LpcPart& part, const LpcEmuStart& start, LpcFlash& flash,
                                              Target& t, std::string& why) {
    std::optional<LpcChip> chip = LpcChipOf(part);
    if (!chip) {
        why = "the " + part.Name() + "'s peripherals are not modelled";
        return nullptr;
    }
    auto emulator = std::make_unique<Emulator>(part, *chip, start, flash, t);
    if (!emulator->Open(why)) return nullptr;
    return emulator;
}

#else  // built without the CPU emulator

std::unique_ptr<LpcEmulator> StartLpcEmulator(const LpcPart&, const LpcEmuStart&, LpcFlash&, Target&,
                                              std::string& why) {
    why = "this vorlo-sim is built without the CPU emulator";
    return nullptr;
}

#endif
