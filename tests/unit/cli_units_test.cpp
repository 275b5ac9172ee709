// Pieces of the framework with logic of their own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/version_info.hpp"
#include "commands/dispatcher.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"
#include "frontend/command_file.hpp"
#include "frontend/help_topics.hpp"

namespace {
std::string Trim(const char* text) {
    char buffer[64];
    strncpy(buffer, text, sizeof buffer);
    return TrimSpace(buffer);
}

std::string Help(const VersionInfo& info) {
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    WriteHelp(out, info, false);
    fclose(out);
    std::string text(data, size);
    free(data);
    return text;
}

std::string Bar(long total, std::initializer_list<long> updates) {
    testing::internal::CaptureStdout();
    ProgressBar(PROGRESS_START, total);
    for (long done : updates) ProgressBar(PROGRESS_UPDATE, done);
    ProgressBar(PROGRESS_FINISH, 0);
    return testing::internal::GetCapturedStdout();
}
}  // namespace

TEST(TrimSpace, StripsEveryWhiteSpaceClassCharacterOnBothEnds) {
    EXPECT_EQ(Trim(" \t\v\f\r\n--echo=a b \r\n"), "--echo=a b");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim("x"), "x");
}

TEST(MakePrintable, ReplacesControlAndEightBitCharacters) {
    char text[] = "OK\r\n\x01\x7f\xe4 a-Z~";
    EXPECT_STREQ(MakePrintable(text), "OK..... a-Z~");
}

TEST(ProgressBar, ColumnArithmeticRoundsAsTheBarDoes) {
    EXPECT_EQ(ProgressBarColumns(1000, 0), 0);
    EXPECT_EQ(ProgressBarColumns(1000, 1000), 30);
    EXPECT_EQ(ProgressBarColumns(1000, 500), 15);
    EXPECT_EQ(ProgressBarColumns(3000, 99), 0);
    EXPECT_EQ(ProgressBarColumns(3000, 100), 1);
    // Large images do not overflow the intermediate products.
    EXPECT_EQ(ProgressBarColumns(2000000000L, 1000000000L), 15);
    // An empty image is complete from the start.
    EXPECT_EQ(ProgressBarColumns(0, 0), 30);
}

TEST(ProgressBar, DrawsOnceForEveryStepAndShowsBytesOrKibibytes) {
    std::string small = Bar(1000, {0, 500});
    EXPECT_EQ(small.substr(0, 33), "\r[..............................]");
    EXPECT_NE(small.find("\r[###############...............] 500"), std::string::npos);
    EXPECT_EQ(small.substr(small.size() - 38), "\r[##############################] 1000");

    std::string large = Bar(10000, {});
    EXPECT_EQ(large.substr(large.size() - 39), "\r[##############################] 10kiB");

    // Each growth step rewrites the whole bar: 1 empty + 30 steps.
    size_t bars = 0;
    for (size_t at = 0; (at = large.find("\r[", at)) != std::string::npos; ++at) ++bars;
    EXPECT_EQ(bars, 31u);

    EXPECT_EQ(Bar(0, {}), "\r[##############################]");
}

TEST(ProgressSpinner, TurnsInPlace) {
    testing::internal::CaptureStdout();
    ProgressSpinner(PROGRESS_START, 10);
    for (int i = 0; i < 5; ++i) ProgressSpinner(PROGRESS_UPDATE, i);
    ProgressSpinner(PROGRESS_FINISH, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-\b\\\b|\b/\b-\b\\\b ");
}

TEST(ProgressDaemonCounters, RoundToKibibytes) {
    ProgressDaemonCounters(PROGRESS_START, 2048);
    EXPECT_EQ(ProgressKibTotal(), 2);
    EXPECT_EQ(ProgressKibDone(), 0);
    ProgressDaemonCounters(PROGRESS_UPDATE, 1024);
    EXPECT_EQ(ProgressKibDone(), 1);
    ProgressDaemonCounters(PROGRESS_FINISH, 0);
    EXPECT_EQ(ProgressKibDone(), 2);
}

TEST(HelpText, VersionNumbersAndMissingTexts) {
    VersionInfo release = {"", "(c)", "Desc", "Me", "vorlo", "rc", 1, 5, 0, 0};
    EXPECT_EQ(Help(release).rfind("\r\nDesc v1.5 rc  / Me\r\n   (c)\r\n", 0), 0u);
    VersionInfo patch = release;
    patch.revision = 3;
    EXPECT_EQ(Help(patch).rfind("\r\nDesc v1.5.0.3 rc  / Me\r\n", 0), 0u);
    VersionInfo empty = {"", "", "", "", "", "", 0, 0, 0, 0};
    EXPECT_EQ(Help(empty).rfind("\r\n v0.0   / \r\n   \r\n", 0), 0u);
}

TEST(Dispatcher, SplitsAtTheFirstEqualsAndIgnoresNameCase) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(CmdDispatch("--eCHo=a=b=c"));
    EXPECT_TRUE(CmdDispatch("--ECHO"));
    EXPECT_FALSE(CmdDispatch("--ECHOX=1"));
    EXPECT_FALSE(CmdDispatch("-"));
    EXPECT_FALSE(CmdDispatch(""));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\na=b=c\n"), std::string::npos);
}

TEST(Dispatcher, KeyAndConnectionSettingsAreCut) {
    CmdDispatch("--seckey=0123456789ABCDEF0123");
    EXPECT_STREQ(ConnectKey(), "0123456789ABCDEF0");
    CmdDispatch("--bootldr=XY");
    EXPECT_STREQ(ConnectKey(), "0123456789ABCDEF0XY");
    // Device paths under /dev/serial/by-id/ run long: a connection string keeps 255.
    CmdDispatch(("--connection=" + std::string(80, 'c')).c_str());
    EXPECT_EQ(std::string(ConnectionString()), std::string(80, 'c'));
    SetConnectionString(std::string(300, 'd').c_str());
    EXPECT_EQ(std::string(ConnectionString()), std::string(255, 'd'));
}

TEST(DriverSelection, NamesOptionsAndTheLpcMark) {
    CmdDriver("gen_iap");
    EXPECT_EQ(CurrentDriverNumber(), 5);
    EXPECT_STREQ(DriverOptions(), "");

    CmdDriver("lpc2000_isp,12000,115200");
    EXPECT_STREQ(CurrentDriverName(), "LPC2000_ISP");
    EXPECT_STREQ(DriverOptions(), "12000,115200");
    EXPECT_NE(PendingCodePreparation(), nullptr);
    // The boot-ROM driver handing over to its RAM routine keeps the LPC preparation for
    // the next WRITE; the user choosing another driver drops it.
    DriverHandOver(DriverNamed("GEN_IAP"), nullptr);
    EXPECT_NE(PendingCodePreparation(), nullptr);
    CmdDriver("LPC2000_ISP");
    CmdDriver("GEN_IAP");
    EXPECT_EQ(PendingCodePreparation(), nullptr);

    // Without options the earlier option text stays; an unknown name changes nothing.
    CmdDriver("MSP430BSL");
    EXPECT_STREQ(DriverOptions(), "12000,115200");
    CmdDriver("MSP430");
    EXPECT_EQ(CurrentDriverNumber(), 7);

    // The option text ends at the first blank and is upper-cased.
    CmdDriver("mic_extmem a b");
    EXPECT_STREQ(DriverOptions(), "A");
    EXPECT_EQ(CurrentDriver().blockSize, 256);
    EXPECT_EQ(CurrentDriver().lengthMultiple, 256);
}

TEST(DriverSelectionDeathTest, OperationsWithoutADriverEndTheRun) {
    // Death tests run first, before any selection in this process.
    EXPECT_EXIT(
        DevErase(CurrentDriver(), nullptr),
        testing::ExitedWithCode(70), "Use --driver switch to select driver.");
}
