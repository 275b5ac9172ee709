#include "support/sim_upload.hpp"

#include <cstdio>

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return data;
}

std::string IntelHexText(const CodeRecords& records) {
    std::string text;
    char line[80];
    uint32_t upper = 0;
    for (const auto& [address, data] : records) {
        for (size_t at = 0; at < data.size(); at += 16) {
            size_t n = std::min<size_t>(16, data.size() - at);
            uint32_t a = address + static_cast<uint32_t>(at);
            if (a >> 16 != upper) {  // extended linear address record
                upper = a >> 16;
                unsigned sum = 2 + 4 + (upper >> 8) + (upper & 0xFF);
                snprintf(line, sizeof line, ":02000004%04X%02X\r\n", upper, (0x100 - (sum & 0xFF)) & 0xFF);
                text += line;
            }
            unsigned sum = static_cast<unsigned>(n + (a >> 8) + (a & 0xFF));
            int len = snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n), a & 0xFFFF);
            for (size_t i = 0; i < n; ++i) {
                len += snprintf(line + len, sizeof line - len, "%02X", data[at + i]);
                sum += data[at + i];
            }
            snprintf(line + len, sizeof line - len, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
            text += line;
        }
    }
    return text + ":00000001FF\r\n";
}

std::vector<uint8_t> WithLpcVectorChecksum(std::vector<uint8_t> image, bool cortex) {
    int slot = cortex ? 7 : 5;
    uint32_t sum = 0;
    for (int i = 0; i < 8; ++i) {
        if (i == slot) continue;
        sum += image[4 * i] | (image[4 * i + 1] << 8) | (image[4 * i + 2] << 16) | (uint32_t{image[4 * i + 3]} << 24);
    }
    for (int b = 0; b < 4; ++b) image[4 * slot + b] = static_cast<uint8_t>((0u - sum) >> (8 * b));
    return image;
}

std::vector<uint8_t> MemoryImage(const CodeRecords& records, size_t size) {
    std::vector<uint8_t> image(size, 0xFF);
    for (const auto& [address, data] : records) std::copy(data.begin(), data.end(), image.begin() + address);
    return image;
}

RunOptions SimUpload::Options() const {
    RunOptions o;
    o.env = {{"HOME", dir}, {"TMP", dir}};
    return o;
}

std::string SimUpload::HexFile(const CodeRecords& records, const std::string& name) const {
    std::string path = dir + "/" + name;
    WriteFile(path, IntelHexText(records));
    return path;
}

RunResult SimUpload::Program(const SimTarget& sim, const std::string& driver, const std::string& codeFile,
                             const std::vector<std::string>& commands, int baud) const {
    std::vector<std::string> args = {"--driver=" + driver, "--connection=" + sim.Connection(baud)};
    if (!codeFile.empty()) args.push_back("--importcode=" + codeFile);
    args.insert(args.end(), commands.begin(), commands.end());
    return RunVorlo(args, Options());
}
