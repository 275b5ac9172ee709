// Bad input and failures say what went wrong and where: the specified texts, and the
// notes behind them that a user can act on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_upload.hpp"

using ErrorReports = SimUpload;

TEST_F(ErrorReports, BadConnectionStrings) {
    SimTarget sim({"--protocol=gen_iap"});
    struct Case {
        std::string fields;  // behind the port
        std::string err;
        bool formNote;
    };
    const Case cases[] = {
        {",abc,8,N,1", "\nERROR: Invalid baud rate requested.", false},
        {",0,8,N,1", "\nERROR: Invalid baud rate requested.", false},
        {",-5,8,N,1", "\nERROR: Invalid baud rate requested.", false},
        {",115200x,8,N,1", "\nERROR: Invalid baud rate requested.", false},
        {",115200,9,N,1", "\nERROR: Invalid byte length requested.", false},
        {"", "\nFATAL ERROR: Str2Value(NULL)", true},
        {",115200,8", "\nFATAL ERROR: Str2Value(NULL)", true},
    };
    for (const Case& c : cases) {
        RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Path() + c.fields, "--erase"}, Options());
        EXPECT_EQ(r.exitCode, 70) << c.fields;
        EXPECT_EQ(r.err, c.err) << c.fields;
        EXPECT_EQ(Contains(r.out, "\nNOTE: A connection string is PORT,BAUD,DATA,PARITY,STOP, e.g. /dev/ttyUSB0,115200,8,N,1."),
                  c.formNote)
            << c.fields << r.out;
    }
}

// A target that stays silent: where it was looked for, and what usually keeps it silent.
TEST_F(ErrorReports, FailedToConnectSaysWhereAndWhy) {
    SimTarget sim({"--protocol=gen_iap", "--fault=drop@C"});
    RunResult r = Program(sim, "GEN_IAP", "", {"--driver=GENIAP", "--erase"});
    EXPECT_EQ(r.err, "\nERROR: Failed to connect.");
    EXPECT_TRUE(Contains(r.out, "\nNOTE: The driver name 'GENIAP' given earlier matched no driver, so GEN_IAP was used"))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "\nNOTE: Tried " + sim.Connection() + "."));
    EXPECT_TRUE(Contains(r.out, "\nNOTE: The target's programming routine must be running")) << r.out;

    RunOptions options = Options();
    options.env["VORLO_PORTS"] = sim.Path();
    r = RunVorlo({"--driver=LPC2000_ISP,12000", "--connection=AUTO(virtual),115200,8,N,1", "--erase"}, options);
    EXPECT_EQ(r.err, "\nERROR: Failed to connect.");
    EXPECT_TRUE(Contains(r.out, "\nNOTE: Ports tried (AUTO,115200,8,N,1): " + sim.Path() + ".")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nNOTE: The part must be in its boot ROM")) << r.out;

    r = RunVorlo({"--driver=FOO", "--erase"}, Options());
    EXPECT_EQ(r.err, "\nERROR: Use --driver switch to select driver.");
    EXPECT_TRUE(Contains(r.out, "\nNOTE: The driver name 'FOO' given earlier matched no driver; --drvlist lists them."));
}

// "Programming failed." keeps its text; the note names the block and the target's reason.
TEST_F(ErrorReports, ProgrammingFailedSaysWhichBlockAndWhy) {
    CodeRecords image = {{0x1000, Pattern(4096, 7)}};
    CodeRecords programmed = {{0x1000, std::vector<uint8_t>(4096, 0x00)}};
    CodeRecords beyond = {{0x7D000, Pattern(256, 1)}};  // past the LPC2148's 500 kiB of flash
    struct Case {
        std::vector<std::string> sim;
        const char* driver;
        CodeRecords records;
        std::vector<std::string> notes;
    };
    const Case cases[] = {
        {{"--protocol=lpc_isp", "--part=LPC2148", "--load=" + HexFile(programmed, "old.hex")},
         "LPC2000_ISP,12000",
         image,
         {"The block at 00001000, 4096 bytes, was not programmed.", "with 10 (COMPARE_ERROR)",
          "The flash differs from what was copied at 00001000: it was not erased there"}},
        {{"--protocol=lpc_isp", "--part=LPC2148", "--stuck-bit=0x1801:3"},
         "LPC2000_ISP,12000",
         {{0x1000, std::vector<uint8_t>(4096, 0x00)}},
         {"The flash differs from what was copied at 00001800"}},
        {{"--protocol=lpc_isp", "--part=LPC2148"},
         "LPC2000_ISP,12000",
         beyond,
         {"The block at 0007D000", "with 5 (DST_ADDR_NOT_MAPPED)"}},
        {{"--protocol=lpc_isp", "--part=LPC2148", "--crp=2"},
         "LPC2000_ISP,12000",
         image,
         {"The block at 00001000", "with 19 (CODE_READ_PROTECTION_ENABLED)"}},
        {{"--protocol=gen_iap", "--nak=15", "--fault=nak@W"},
         "GEN_IAP",
         image,
         {"The block at 00001000, 256 bytes", "gen_iap: the target refused the write frame (NAK 15) 3 times"}},
        {{"--protocol=msp430_bsl", "--stuck-bit=0x8001:0"},
         "MSP430BSL",
         {{0x8000, std::vector<uint8_t>(128, 0x00)}},
         {"The block at 00008000, 128 bytes", "The BSL's CRC of the block at 08000 is"}},
    };
    for (const Case& c : cases) {
        SimTarget sim(c.sim);
        RunResult r = Program(sim, c.driver, HexFile(c.records), {"--write"});
        EXPECT_EQ(r.exitCode, 70) << c.sim.back();
        EXPECT_EQ(r.err, "\nERROR: Programming failed.") << c.sim.back() << r.err;
        for (const std::string& note : c.notes) EXPECT_TRUE(Contains(r.out, note)) << c.sim.back() << ": " << note << r.out;
    }
}

TEST_F(ErrorReports, FilesSayTheSystemsReasonAndTheDamagedLine) {
    WriteFile(dir + "/bad.hex", ":0400000001020304F2\r\n:04000400010203040E\r\n:00000001FF\r\n");
    WriteFile(dir + "/bad.s19", "S00600004844521B\r\nS1130000000102030405060708090A0B0C0D0E0F00\r\n");
    struct Case {
        std::vector<std::string> args;
        std::string note;
        std::string err;
    };
    const Case cases[] = {
        {{"--importcode=" + dir + "/bad.hex"}, "bad.hex, read as Intel HEX: line 2: Checksum mismatch.",
         "Unknown file format or damaged file."},
        {{"--importcode=" + dir + "/bad.s19"}, "bad.s19, read as S-records: line 2: Checksum mismatch.",
         "Unknown file format or damaged file."},
        {{"--format=INTELHEX", "--importcode=" + dir + "/bad.hex"}, "bad.hex: line 2.", "Checksum mismatch."},
        {{"--importcode=" + dir + "/none.hex"}, "none.hex: No such file or directory",
         "Can't open file " + dir + "/none.hex."},
        {{"--importcode=" + dir}, dir + ": Is a directory", "Can't open file " + dir + "."},
    };
    for (const Case& c : cases) {
        RunResult r = RunVorlo(c.args, Options());
        EXPECT_EQ(r.exitCode, 70);
        EXPECT_EQ(r.err, "\nERROR: " + c.err) << c.args.back();
        EXPECT_TRUE(Contains(r.out, c.note)) << c.args.back() << r.out;
    }
    // A temporary folder that is not there: the next candidate is taken.
    RunOptions options = Options();
    options.env["TMP"] = dir + "/no-such-folder";
    EXPECT_EQ(RunVorlo({"--version"}, options).exitCode, 0);
}

// --progress=plain writes lines only; the default display stays as it was.
TEST_F(ErrorReports, PlainProgressForLogs) {
    CodeRecords records = {{0x0, Pattern(3072, 2)}};
    for (bool plain : {true, false}) {
        SimTarget sim({"--protocol=gen_iap"});
        std::vector<std::string> commands = {"--erase", "--write"};
        if (plain) commands.insert(commands.begin(), "--progress=plain");
        RunResult r = Program(sim, "GEN_IAP", HexFile(records), commands);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        if (plain) {
            EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
            EXPECT_TRUE(Contains(r.out, "\nConnecting .. OK\nErasing device .. OK\nWriting.\n  0 % of 3072 bytes\n100 % of 3072 bytes"))
                << r.out;
        } else {
            EXPECT_TRUE(Contains(r.out, "\n\rConnecting .. OK   \nErasing device .. OK\nWriting.\n\r[.......")) << r.out;
            EXPECT_TRUE(Contains(r.out, "\r[##############################] 3kiB"));
        }
    }
    RunOptions options = Options();
    options.env["VORLO_PROGRESS"] = "plain";
    SimTarget sim({"--protocol=gen_iap", "--fault=drop@C"});
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Connection(), "--erase"}, options);
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nConnecting .. no answer, 0s left")) << r.out;
}
