// How the LPC boot ROM's ISP moves data as text: UU-encoded lines of up to 45 bytes, in
// blocks of up to 20 lines, each block followed by a line with the decimal sum of its
// bytes, which the receiving side answers "OK" or "RESEND". The numbers of the command
// lines are decimal too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kUuLineBytes = 45;
constexpr size_t kUuBlockLines = 20;

// A decimal number without sign, as the boot ROM reads them; false for anything else
// and for a number past 32 bits.
bool ParseIspDecimal(const std::string& text, uint32_t& value);

// One UU line of `count` bytes (at most 45) with its CR LF.
std::string UuLine(const uint8_t* data, size_t count);
// The bytes a UU line carries (without its line end); missing characters count as zero.
std::vector<uint8_t> UuDecode(const std::string& line);

// The data of a write to RAM as the host sends it, block by block.
class UuBlockReceiver {
public:
    // A write of `count` bytes starts.
    void Start(uint32_t count);
    // Whether the next line is the checksum of the block so far: after 20 data lines, or
    // once the data lines hold all the bytes the write still takes.
    bool ChecksumDue() const { return checksumDue_; }
    // A data line: its bytes, cut to what the write still takes, join the block.
    void AddLine(const std::string& line);
    // Whether the checksum line `line` gives the sum of the block's bytes.
    bool ChecksumMatches(const std::string& line) const;

    const std::vector<uint8_t>& Block() const { return block_; }
    uint32_t Sum() const { return sum_; }
    // The bytes of the blocks taken so far: the block starts this far into the write.
    uint32_t Taken() const { return taken_; }
    // The block was taken (its checksum matched) or is to come again; the next starts.
    void Take();
    void Discard();
    bool Done() const { return taken_ >= count_; }

private:
    uint32_t count_ = 0;
    uint32_t taken_ = 0;
    std::vector<uint8_t> block_;
    size_t lines_ = 0;
    uint32_t sum_ = 0;
    bool checksumDue_ = false;
};

// The data of a read as the boot ROM sends it, block by block, each block sent again for
// as long as the host answers RESEND.
class UuBlockSender {
public:
    void Start(std::vector<uint8_t> data);
    // The lines of the current block and its checksum line.
    std::string Block();
    // The host took the current block; true when another one follows.
    bool Next();

private:
    std::vector<uint8_t> data_;
    size_t at_ = 0;    // where the current block starts
    size_t next_ = 0;  // where the one after it starts
};
