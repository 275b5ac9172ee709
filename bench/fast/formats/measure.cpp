// The format comparison behind --compress: for each 4 KiB block of a firmware image, the
// size packed by Vorlo's packer and by zlib's raw deflate (level 9), and the work of each
// decoder on the emulated Cortex-M3 (instructions per byte, about cycles at 48 MHz).
// Usage: measure FIRMWARE.bin DECODERS.bin LOAD UNPACK_ENTRY INFLATE_ENTRY
#include <unicorn/unicorn.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "drivers/lpc/pack.hpp"

namespace {
std::vector<uint8_t> Read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> Deflate(const uint8_t* data, size_t n) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, n));
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint64_t g_instructions = 0;
void Count(uc_engine*, uint64_t, uint32_t, void*) { ++g_instructions; }

constexpr uint32_t kIn = 0x20000000, kOut = 0x20010000, kState = 0x20020000, kStack = 0x20030000, kDone = 0x30000000;

// Runs the decoder at `entry` on `stream`; the instructions it took, or 0 when its
// output is not `block`.
uint64_t Run(uc_engine* uc, uint32_t entry, const std::vector<uint8_t>& stream, const uint8_t* block, size_t n) {
    uc_mem_write(uc, kIn, stream.data(), stream.size());
    uint32_t regs[] = {kIn, static_cast<uint32_t>(stream.size()), kOut, static_cast<uint32_t>(n)};
    int ids[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
    for (int i = 0; i < 4; ++i) uc_reg_write(uc, ids[i], &regs[i]);
    uint32_t sp = kStack - 16, lr = kDone | 1, state = kState;
    uc_mem_write(uc, sp, &state, 4);  // the inflater's fifth argument: its tables
    uc_reg_write(uc, UC_ARM_REG_SP, &sp);
    uc_reg_write(uc, UC_ARM_REG_LR, &lr);
    g_instructions = 0;
    uc_emu_start(uc, entry | 1, kDone, 0, 0);
    uint32_t ok = 0;
    uc_reg_read(uc, UC_ARM_REG_R0, &ok);
    std::vector<uint8_t> out(n);
    uc_mem_read(uc, kOut, out.data(), n);
    return ok == 1 && std::memcmp(out.data(), block, n) == 0 ? g_instructions : 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s FIRMWARE.bin DECODERS.bin LOAD UNPACK_ENTRY INFLATE_ENTRY\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> firmware = Read(argv[1]), code = Read(argv[2]);
    uint32_t load = std::strtoul(argv[3], nullptr, 0), unpackEntry = std::strtoul(argv[4], nullptr, 0),
             inflateEntry = std::strtoul(argv[5], nullptr, 0);
    uc_engine* uc = nullptr;
    uc_open(UC_ARCH_ARM, static_cast<uc_mode>(UC_MODE_THUMB | UC_MODE_MCLASS), &uc);
    uc_ctl_set_cpu_model(uc, UC_CPU_ARM_CORTEX_M3);
    uc_mem_map(uc, load, 0x10000, UC_PROT_ALL);
    uc_mem_map(uc, kIn, 0x30000, UC_PROT_ALL);
    uc_mem_map(uc, kDone, 0x1000, UC_PROT_ALL);
    uc_mem_write(uc, load, code.data(), code.size());
    uc_hook hook;
    uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(Count), nullptr, 1, 0);

    size_t packedBytes = 0, deflatedBytes = 0;
    uint64_t unpackWork = 0, inflateWork = 0;
    for (size_t at = 0; at < firmware.size(); at += 4096) {
        size_t n = std::min<size_t>(4096, firmware.size() - at);
        const uint8_t* block = firmware.data() + at;
        std::vector<uint8_t> packed = PackBlock(block, n), deflated = Deflate(block, n);
        uint64_t u = Run(uc, unpackEntry, packed, block, n), d = Run(uc, inflateEntry, deflated, block, n);
        if (!u || !d) {
            std::fprintf(stderr, "block at %zX: a decoder failed (unpack %llu, inflate %llu)\n", at,
                         static_cast<unsigned long long>(u), static_cast<unsigned long long>(d));
            return 1;
        }
        packedBytes += packed.size();
        deflatedBytes += deflated.size();
        unpackWork += u;
        inflateWork += d;
    }
    double kib = firmware.size() / 4096.0;
    std::printf("%-24s %8s %12s %14s\n", "format", "ratio", "instr./byte", "ms/4KiB@48MHz");
    std::printf("%-24s %8.3f %12.1f %14.2f\n", "packed (Vorlo)", double(packedBytes) / firmware.size(),
                double(unpackWork) / firmware.size(), unpackWork / kib / 48e3);
    std::printf("%-24s %8.3f %12.1f %14.2f\n", "deflate (zlib -9, raw)", double(deflatedBytes) / firmware.size(),
                double(inflateWork) / firmware.size(), inflateWork / kib / 48e3);
    uc_close(uc);
    return 0;
}
