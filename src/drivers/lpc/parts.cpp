#include "drivers/lpc/parts.hpp"

namespace {
constexpr LpcSectorRun kRunsA[] = {{8, 4096}};
constexpr LpcSectorRun kRunsB[] = {{15, 8192}};
constexpr LpcSectorRun kRunsD[] = {{8, 8192}, {2, 65536}, {7, 8192}};
constexpr LpcSectorRun kRunsE[] = {{8, 4096}, {14, 32768}, {6, 4096}};
constexpr LpcSectorRun kRunsF[] = {{16, 4096}, {14, 32768}};
const LpcSectorMap A = {'A', kRunsA};
const LpcSectorMap B = {'B', kRunsB};
const LpcSectorMap D = {'D', kRunsD};
const LpcSectorMap E = {'E', kRunsE};
const LpcSectorMap F = {'F', kRunsF};

// clang-format off
const LpcPart kParts[] = {
    // ID          part  flash  RAM  sectors  copy  map
    {0x0004FF11, 2103,  32,  8,  8, 4096, &A},
    {0xFFF0FF12, 2104, 128, 16, 15, 8192, &B},
    {0xFFF0FF22, 2105, 128, 32, 15, 8192, &B},
    {0xFFF0FF32, 2106, 128, 64, 15, 8192, &B},
    {0x0101FF12, 2114, 128, 16, 15, 8192, &B},
    {0x0201FF12, 2119, 128, 16, 15, 8192, &B},
    {0x0101FF13, 2124, 256, 16, 17, 8192, &D},
    {0x0201FF13, 2129, 256, 16, 17, 8192, &D},
    {0x0002FF01, 2131,  32,  8,  8, 4096, &E},
    {0x0002FF11, 2132,  64, 16,  9, 4096, &E},
    {0x0002FF12, 2134, 128, 16, 11, 4096, &E},
    {0x0002FF23, 2136, 256, 32, 15, 4096, &E},
    {0x0002FF25, 2138, 512, 32, 27, 4096, &E},
    {0x0402FF01, 2141,  32,  8,  8, 4096, &E},
    {0x0402FF11, 2142,  64, 16,  9, 4096, &E},
    {0x0402FF12, 2144, 128, 16, 11, 4096, &E},
    {0x0402FF23, 2146, 256, 40, 15, 4096, &E},
    {0x0402FF25, 2148, 512, 40, 27, 4096, &E},
    {0x0301FF13, 2194, 256, 16, 17, 8192, &D},
    {0x0301FF12, 2210,   0, 16,  0, 8192, &B},  // no flash of its own
    {0x0401FF12, 2212, 128, 16, 15, 8192, &B},
    {0x0601FF13, 2214, 256, 16, 17, 8192, &D},
    {0x0401FF13, 2292, 256, 16, 17, 8192, &D},
    {0x0501FF13, 2294, 256, 16, 17, 8192, &D},
    {0x0603FB02, 2364, 128,  8, 11, 4096, &E},
    {0x1600F902, 2364, 128,  8, 11, 4096, &E},
    {0x1800FF35, 2388, 512, 64, 28, 4096, &E},
    {0x1700FD25, 2378, 512, 64, 28, 4096, &E},
    {0x1600F923, 2366, 256, 32, 15, 4096, &E},
    {0x1600F701, 2361,  64,  8,  9, 4096, &E},
    {0x1600FF22, 2362, 128, 32, 11, 4096, &E},
    {0x1600E823, 2365, 256, 32, 15, 4096, &E},
    {0x1600E825, 2367, 512, 32, 28, 4096, &E},
    {0x1600F925, 2368, 512, 32, 28, 4096, &E},
    {0x1700E825, 2377, 512, 32, 28, 4096, &E},
    {0x1700FF35, 2387, 512, 32, 28, 4096, &E},
    {0x1800F935, 2387, 512, 32, 28, 4096, &E},
    {0x26113F37, 1769, 512, 64, 30, 4096, &F},
    {0x26013F37, 1768, 512, 64, 30, 4096, &F},
    {0x26012837, 1768, 512, 64, 30, 4096, &F},
    {0x26013F33, 1766, 256, 64, 22, 4096, &F},
    {0x26013733, 1765, 256, 64, 22, 4096, &F},
    {0x26011922, 1764, 128, 32, 18, 4096, &F},
    {0x25113737, 1759, 512, 64, 30, 4096, &F},
    {0x25013F37, 1758, 512, 64, 30, 4096, &F},
    {0x25011723, 1756, 256, 64, 22, 4096, &F},
    {0x25011722, 1754, 128, 32, 18, 4096, &F},
    {0x25001121, 1752,  64, 16, 16, 4096, &F},
    {0x25001118, 1751,  32,  8,  8, 4096, &F},
    {0x2C42502B, 1311,   8,  4,  2, 1024, &F},
    {0x2C40102B, 1313,  32,  8,  8, 4096, &F},
    {0x3D01402B, 1342,  16,  4,  4, 1024, &F},
    {0x3D00002B, 1343,  32,  8,  8, 4096, &F},
    {0x041E502B, 1111,   8,  2,  2, 1024, &F},
    {0x0416502B, 1111,   8,  4,  2, 1024, &F},
    {0x042D502B, 1112,  16,  2,  4, 1024, &F},
    {0x0425502B, 1112,  16,  4,  4, 1024, &F},
    {0x2524D02B, 1112,  16,  4,  4, 1024, &F},
    {0x0434502B, 1113,  24,  4,  6, 1024, &F},
    {0x0434102B, 1113,  24,  8,  6, 4096, &F},
    {0x0444502B, 1114,  32,  4,  8, 1024, &F},
    {0x0444102B, 1114,  32,  8,  8, 4096, &F},
    {0x2540102B, 1114,  32,  8,  8, 4096, &F},
    {0x00040040, 1114,  32,  8,  8, 4096, &F},
    {0x00040060, 1114,  48,  8, 11, 4096, &F},
    {0x00050080, 1115,  64,  8, 15, 4096, &F},
    {0x1701FF35, 2478, 512, 96, 28, 4096, &E},
};
// clang-format on

const LpcPart* g_current = &kNoLpcPart;

uint32_t SectorSize(const LpcPart& part, int32_t n) {
    for (const LpcSectorRun& run : part.map->runs) {
        if (n < run.count) return run.size;
        n -= run.count;
    }
    return 0;
}
}  // namespace

const LpcPart kNoLpcPart = {0, 0, 0, 0, 0, 0, nullptr};

std::span<const LpcPart> LpcPartTable() { return kParts; }

const LpcPart* LpcIdentify(uint32_t id) {
    for (size_t i = std::size(kParts); i-- > 0;)
        if (kParts[i].id == id) return &kParts[i];
    return nullptr;
}

bool LpcIsCortex(const LpcPart& part) { return part.map == &F; }

uint32_t LpcSectorStart(const LpcPart& part, int32_t n) {
    if (part.sectors <= 0 || !part.map) return 0;
    if (n > part.sectors - 1) n = part.sectors - 1;
    uint32_t start = 0;
    for (int32_t i = 0; i < n; ++i) start += SectorSize(part, i);
    return start;
}

uint32_t LpcSectorEnd(const LpcPart& part, int32_t n) {
    if (part.sectors <= 0 || !part.map) return 0xFFFFFFFFu;
    if (n > part.sectors - 1) n = part.sectors - 1;
    return LpcSectorStart(part, n) + SectorSize(part, n) - 1;
}

const LpcPart& LpcCurrentPart() { return *g_current; }
void LpcSetCurrentPart(const LpcPart& part) { g_current = &part; }
