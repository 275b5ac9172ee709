#include "protocols/lpc_uu.hpp"

#include <algorithm>

bool ParseIspDecimal(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::string UuLine(const uint8_t* data, size_t count) {
    auto ch = [](uint32_t v) { return static_cast<char>(v ? v + 32 : '`'); };
    std::string line(1, static_cast<char>(count + 32));
    for (size_t i = 0; i < count; i += 3) {
        uint32_t group = uint32_t{data[i]} << 16;
        if (i + 1 < count) group |= uint32_t{data[i + 1]} << 8;
        if (i + 2 < count) group |= data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) line += ch((group >> shift) & 0x3F);
    }
    return line + "\r\n";
}

std::vector<uint8_t> UuDecode(const std::string& line) {
    std::vector<uint8_t> bytes;
    if (line.empty()) return bytes;
    auto value = [&](size_t i) -> uint32_t { return i < line.size() ? (static_cast<uint8_t>(line[i]) - 32) & 0x3F : 0; };
    size_t count = value(0);
    for (size_t i = 1; bytes.size() < count; i += 4) {
        uint32_t group = (value(i) << 18) | (value(i + 1) << 12) | (value(i + 2) << 6) | value(i + 3);
        for (int shift = 16; shift >= 0 && bytes.size() < count; shift -= 8) bytes.push_back(static_cast<uint8_t>(group >> shift));
    }
    return bytes;
}

void UuBlockReceiver::Start(uint32_t count) {
    count_ = count;
    taken_ = 0;
    Discard();
}

void UuBlockReceiver::AddLine(const std::string& line) {
    std::vector<uint8_t> bytes = UuDecode(line);
    size_t room = count_ - taken_ - block_.size();
    if (bytes.size() > room) bytes.resize(room);
    for (uint8_t b : bytes) sum_ += b;
    block_.insert(block_.end(), bytes.begin(), bytes.end());
    ++lines_;
    checksumDue_ = lines_ == kUuBlockLines || taken_ + block_.size() >= count_;
}

bool UuBlockReceiver::ChecksumMatches(const std::string& line) const {
    uint32_t sum = 0;
    return ParseIspDecimal(line, sum) && sum == sum_;
}

void UuBlockReceiver::Take() {
    taken_ += static_cast<uint32_t>(block_.size());
    Discard();
}

void UuBlockReceiver::Discard() {
    block_.clear();
    lines_ = 0;
    sum_ = 0;
    checksumDue_ = false;
}

void UuBlockSender::Start(std::vector<uint8_t> data) {
    data_ = std::move(data);
    at_ = next_ = 0;
}

std::string UuBlockSender::Block() {
    std::string text;
    uint32_t sum = 0;
    size_t at = at_;
    for (size_t line = 0; line < kUuBlockLines && at < data_.size(); ++line) {
        size_t n = std::min(kUuLineBytes, data_.size() - at);
        text += UuLine(data_.data() + at, n);
        for (size_t i = 0; i < n; ++i) sum += data_[at + i];
        at += n;
    }
    next_ = at;
    return text + std::to_string(sum) + "\r\n";
}

bool UuBlockSender::Next() {
    at_ = next_;
    return at_ < data_.size();
}
