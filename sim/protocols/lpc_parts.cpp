#include "protocols/lpc_parts.hpp"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

// Sector sizes of the flash layouts, from address 0.
std::vector<uint32_t> Layout(char layout) {
    auto run = [](std::vector<uint32_t>& v, uint32_t count, uint32_t size) { v.insert(v.end(), count, size); };
    std::vector<uint32_t> sizes;
    switch (layout) {
    case 'A': run(sizes, 8, 4096); break;
    case 'B': run(sizes, 15, 8192); break;
    case 'D': run(sizes, 8, 8192); run(sizes, 2, 65536); run(sizes, 7, 8192); break;
    case 'E': run(sizes, 8, 4096); run(sizes, 14, 32768); run(sizes, 6, 4096); break;
    case 'F': run(sizes, 16, 4096); run(sizes, 14, 32768); break;
    }
    return sizes;
}

const LpcPart kParts[] = {
    {0x0004FF11, 2103, 32, 8, 8, 4096, 'A'},    {0xFFF0FF12, 2104, 128, 16, 15, 8192, 'B'},
    {0xFFF0FF22, 2105, 128, 32, 15, 8192, 'B'}, {0xFFF0FF32, 2106, 128, 64, 15, 8192, 'B'},
    {0x0101FF12, 2114, 128, 16, 15, 8192, 'B'}, {0x0201FF12, 2119, 128, 16, 15, 8192, 'B'},
    {0x0101FF13, 2124, 256, 16, 17, 8192, 'D'}, {0x0201FF13, 2129, 256, 16, 17, 8192, 'D'},
    {0x0002FF01, 2131, 32, 8, 8, 4096, 'E'},    {0x0002FF11, 2132, 64, 16, 9, 4096, 'E'},
    {0x0002FF12, 2134, 128, 16, 11, 4096, 'E'}, {0x0002FF23, 2136, 256, 32, 15, 4096, 'E'},
    {0x0002FF25, 2138, 512, 32, 27, 4096, 'E'}, {0x0402FF01, 2141, 32, 8, 8, 4096, 'E'},
    {0x0402FF11, 2142, 64, 16, 9, 4096, 'E'},   {0x0402FF12, 2144, 128, 16, 11, 4096, 'E'},
    {0x0402FF23, 2146, 256, 40, 15, 4096, 'E'}, {0x0402FF25, 2148, 512, 40, 27, 4096, 'E'},
    {0x0301FF13, 2194, 256, 16, 17, 8192, 'D'}, {0x0301FF12, 2210, 0, 16, 0, 8192, 'B'},
    {0x0401FF12, 2212, 128, 16, 15, 8192, 'B'}, {0x0601FF13, 2214, 256, 16, 17, 8192, 'D'},
    {0x0401FF13, 2292, 256, 16, 17, 8192, 'D'}, {0x0501FF13, 2294, 256, 16, 17, 8192, 'D'},
    {0x0603FB02, 2364, 128, 8, 11, 4096, 'E'},  {0x1600F902, 2364, 128, 8, 11, 4096, 'E'},
    {0x1800FF35, 2388, 512, 64, 28, 4096, 'E'}, {0x1700FD25, 2378, 512, 64, 28, 4096, 'E'},
    {0x1600F923, 2366, 256, 32, 15, 4096, 'E'}, {0x1600F701, 2361, 64, 8, 9, 4096, 'E'},
    {0x1600FF22, 2362, 128, 32, 11, 4096, 'E'}, {0x1600E823, 2365, 256, 32, 15, 4096, 'E'},
    {0x1600E825, 2367, 512, 32, 28, 4096, 'E'}, {0x1600F925, 2368, 512, 32, 28, 4096, 'E'},
    {0x1700E825, 2377, 512, 32, 28, 4096, 'E'}, {0x1700FF35, 2387, 512, 32, 28, 4096, 'E'},
    {0x1800F935, 2387, 512, 32, 28, 4096, 'E'}, {0x26113F37, 1769, 512, 64, 30, 4096, 'F'},
    {0x26013F37, 1768, 512, 64, 30, 4096, 'F'}, {0x26012837, 1768, 512, 64, 30, 4096, 'F'},
    {0x26013F33, 1766, 256, 64, 22, 4096, 'F'}, {0x26013733, 1765, 256, 64, 22, 4096, 'F'},
    {0x26011922, 1764, 128, 32, 18, 4096, 'F'}, {0x25113737, 1759, 512, 64, 30, 4096, 'F'},
    {0x25013F37, 1758, 512, 64, 30, 4096, 'F'}, {0x25011723, 1756, 256, 64, 22, 4096, 'F'},
    {0x25011722, 1754, 128, 32, 18, 4096, 'F'}, {0x25001121, 1752, 64, 16, 16, 4096, 'F'},
    {0x25001118, 1751, 32, 8, 8, 4096, 'F'},    {0x2C42502B, 1311, 8, 4, 2, 1024, 'F'},
    {0x2C40102B, 1313, 32, 8, 8, 4096, 'F'},    {0x3D01402B, 1342, 16, 4, 4, 1024, 'F'},
    {0x3D00002B, 1343, 32, 8, 8, 4096, 'F'},    {0x041E502B, 1111, 8, 2, 2, 1024, 'F'},
    {0x0416502B, 1111, 8, 4, 2, 1024, 'F'},     {0x042D502B, 1112, 16, 2, 4, 1024, 'F'},
    {0x0425502B, 1112, 16, 4, 4, 1024, 'F'},    {0x2524D02B, 1112, 16, 4, 4, 1024, 'F'},
    {0x0434502B, 1113, 24, 4, 6, 1024, 'F'},    {0x0434102B, 1113, 24, 8, 6, 4096, 'F'},
    {0x0444502B, 1114, 32, 4, 8, 1024, 'F'},    {0x0444102B, 1114, 32, 8, 8, 4096, 'F'},
    {0x2540102B, 1114, 32, 8, 8, 4096, 'F'},    {0x00040040, 1114, 32, 8, 8, 4096, 'F'},
    {0x00040060, 1114, 48, 8, 11, 4096, 'F'},   {0x00050080, 1115, 64, 8, 15, 4096, 'F'},
    {0x1701FF35, 2478, 512, 96, 28, 4096, 'E'},
};

bool Number(const std::string& text, uint32_t& value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

std::vector<uint32_t> LpcPart::SectorSizes() const {
    std::vector<uint32_t> sizes = Layout(layout);
    sizes.resize(sectors);
    return sizes;
}

std::span<const LpcPart> LpcParts() { return kParts; }

const LpcPart* FindLpcPart(const std::string& text) {
    std::string digits = text;
    bool named = digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'L' &&
                 std::toupper(static_cast<unsigned char>(digits[1])) == 'P' &&
                 std::toupper(static_cast<unsigned char>(digits[2])) == 'C';
    if (named) digits = digits.substr(3);
    uint32_t value = 0;
    if (!Number(digits, value)) return nullptr;
    bool hex = digits.size() > 1 && digits[0] == '0';
    if (named || !hex) {
        for (const LpcPart& part : kParts)
            if (part.number == value) return &part;
        if (named) return nullptr;
    }
    for (const LpcPart& part : kParts)
        if (part.id == value) return &part;
    return nullptr;
}
