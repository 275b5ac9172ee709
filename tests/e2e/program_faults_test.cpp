// Replies that come twice, late, garbled or not at all, against every driver: the run
// either programs every block or fails; it never reports success with a block missing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_upload.hpp"

namespace {
struct FaultCase {
    const char* driver;
    const char* protocol;
    const char* plan;
    bool mustSucceed;  // the driver can recover from this one
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.driver << " " << c.plan; }

class FaultyTarget : public SimUpload, public ::testing::WithParamInterface<FaultCase> {};

// Line model on (115200 baud): a duplicated byte arrives one character time after the
// first, as on a real line, not together with it.
TEST_P(FaultyTarget, NeverEndsInSuccessWithWrongMemory) {
    const FaultCase& c = GetParam();
    CodeRecords records = {{0x0, Pattern(1280, 3)}};
    SimTarget sim({std::string("--protocol=") + c.protocol, "--baud=115200", "--nak=15", std::string("--fault=") + c.plan});
    RunResult r = Program(sim, c.driver, HexFile(records), {"--erase", "--write"});
    sim.Stop();
    if (c.mustSucceed) {
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    if (r.exitCode == 0) {
        EXPECT_EQ(sim.Memory(), MemoryImage(records, 1280));
    } else {
        EXPECT_EQ(r.exitCode, 70) << r.out << r.err;
    }
}

const FaultCase kCases[] = {
    // The second frame's ACK twice, the third frame refused: the refusal must not be
    // taken for the answer to the fourth.
    {"GEN_IAP", "gen_iap", "dup@W#2;nak@W#3", true},
    {"MIC_EXTMEM", "mic_extmem", "dup@W#2;nak@W#3", true},
    // An ACK after the 5 s time-out, then a refusal: the late ACK belongs to the block
    // sent again, the refusal to nobody.
    {"GEN_IAP", "gen_iap", "late:5300@W#2;nak@W#4", true},
    {"MIC_EXTMEM", "mic_extmem", "drop@W#2;nak@W#3", true},
    {"GEN_IAP", "gen_iap", "corrupt@W#1;dup@C#1;dup@E", true},
    {"GEN_IAP", "gen_iap", "dup@W#2;late@W#3;nak@W#4", false},
    {"MIC_EXTMEM", "mic_extmem", "dup@entry;late:80@C#1;corrupt@R", true},
};
std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
    std::string name = std::string(info.param.protocol) + "_" + info.param.plan;
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}
INSTANTIATE_TEST_SUITE_P(Plans, FaultyTarget, ::testing::ValuesIn(kCases), CaseName);
}  // namespace
