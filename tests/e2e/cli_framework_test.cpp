// The framework as users see it: options, command files, streams and exit codes.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/run_vorlo.hpp"

namespace {
// Every run gets its own temporary directory, so leftover command files are visible.
struct Sandbox {
    std::string dir = MakeTempDir();
    std::string tmp = MakeTempDir();
    RunOptions Options() const {
        RunOptions o;
        o.workDir = dir;
        o.env = {{"TMP", tmp}, {"HOME", dir}};
        return o;
    }
    RunResult Run(const std::vector<std::string>& args) const { return RunVorlo(args, Options()); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    bool TempDirEmpty() const { return ListDir(tmp).empty(); }
};

}  // namespace

TEST(Startup, NoArgumentsPrintsHelpExits64AndCreatesNoCommandFile) {
    Sandbox box;
    RunResult r = box.Run({});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_EQ(r.out.rfind("\r\nVorlo serial bootloader firmware loader v0.13 beta  / Kestramon firmware tools\r\n"
                          "   Copyright (c) 2026 Kestramon. All rights reserved.\r\n\r\n   --version ", 0),
              0u)
        << r.out;
    EXPECT_TRUE(Contains(r.out, "   --resetctrl=method\t: Available metods: CP2103GPIO_x,state where\r\n"));
    EXPECT_TRUE(Contains(r.out, "\r\n\t         460800, 500000, 576000, 921600.\r\n  \r\n  modbus,mb_slave_num\r\n"));
    // Printing stops at the end marker: the screen ends with a line of three blanks.
    const std::string tail = "   - Texas MPS430F5xxx/6xxx family processor BSL through serial port\r\n   \r\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_TRUE(r.err.empty());
    EXPECT_TRUE(box.TempDirEmpty());
}

TEST(Startup, HelpOptionsEndTheRunWithCodeZeroBeforeLaterLines) {
    Sandbox box;
    std::string help = box.Run({}).out;
    for (const char* option : {"--help", "--HELP=topic", "-h", "-?", "/h", "/?", "-H", "/h?", "-??"}) {
        RunResult r = box.Run({"--echo=before", option, "--echo=LATER"});
        EXPECT_EQ(r.exitCode, 0) << option;
        EXPECT_TRUE(Contains(r.out, "\nbefore")) << option;
        EXPECT_FALSE(Contains(r.out, "LATER")) << option;
        EXPECT_TRUE(Contains(r.out, help)) << option;
    }
    EXPECT_TRUE(box.TempDirEmpty());
}

TEST(Startup, VersionBannerDoesNotEndTheRun) {
    Sandbox box;
    RunResult upper = box.Run({"--VERSION", "--echo=next"});
    RunResult lower = box.Run({"--version", "--echo=next"});
    EXPECT_EQ(upper.exitCode, 0);
    EXPECT_EQ(upper.out, "vorlo 0.13 \nnext\n");
    EXPECT_EQ(lower.out, upper.out);
}

TEST(Startup, PlainRunPrintsMessagesAndTheClosingLineFeed) {
    Sandbox box;
    RunResult r = box.Run({"--echo=hello", "--ECHO=a=b", "--echo=100% %s %n done"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\nhello\na=b\n100% %s %n done\n");
    EXPECT_TRUE(r.err.empty());
    EXPECT_TRUE(box.TempDirEmpty());
}

TEST(Startup, UnknownArgumentsEndTheRunWith70AndLeaveNoCommandFile) {
    Sandbox box;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--echo=ran", "--nosuchoption", "--echo=not-ran"},
             {"--echo=ran", "--writex"},
             {"--echo=ran", "echo=x"},
             {"--echo=ran", "+D"},
             {"--echo=ran", "-x"},
         }) {
        RunResult r = box.Run(args);
        EXPECT_EQ(r.exitCode, 70) << args[1];
        EXPECT_EQ(r.err, "\nERROR: Unknown argument '" + args[1] + "'.") << args[1];
        EXPECT_TRUE(Contains(r.out, "\nran")) << args[1];
        EXPECT_FALSE(Contains(r.out, "not-ran"));
    }
    EXPECT_TRUE(box.TempDirEmpty());
}

TEST(Messages, LongMessagesAreCutTo119Characters) {
    Sandbox box;
    std::string text(150, 'x');
    RunResult r = box.Run({"--echo=" + text});
    // The value is cut to 128 characters by the dispatcher, the message to 119.
    EXPECT_EQ(r.out, "\n" + std::string(119, 'x') + "\n");
}

TEST(Messages, DebugAndVerboseModes) {
    Sandbox box;
    RunResult quiet = box.Run({"--contout=5"});
    EXPECT_EQ(quiet.out, "\n");

    RunResult debug = box.Run({"-d", "--contout=5"});
    EXPECT_EQ(debug.exitCode, 0);
    EXPECT_TRUE(Contains(debug.out, "\n  Debug mode on."));
    EXPECT_TRUE(Contains(debug.out, "\n  Version: 0.13.0.0"));
    EXPECT_TRUE(Contains(debug.out, "\n  Connect timeout set to 5"));

    RunResult mixed = box.Run({"--DeBuG=VeRbOsE", "--contout=7"});
    EXPECT_EQ(mixed.exitCode, 0);
    EXPECT_TRUE(Contains(mixed.out, "\n  Connect timeout set to 7"));

    RunResult wrong = box.Run({"--debug=loud", "--contout=7"});
    EXPECT_EQ(wrong.exitCode, 70);
    EXPECT_EQ(wrong.err, "\nERROR: Unknown argument '--debug=loud'.");
}

TEST(Messages, DebugLogTakesDebugWarningAndErrorLinesButNotNotesOrPlainText) {
    Sandbox box;
    std::string log = box.Path("debug.log");
    RunResult r = box.Run({"--debuglog=" + log, "--contout=3", "--clockfreq=12000", "--echo=plain", "--sleep=abc"});
    EXPECT_EQ(r.exitCode, 70);
    // Without debug mode the level-5 line goes only to the log.
    EXPECT_FALSE(Contains(r.out, "Connect timeout"));
    EXPECT_TRUE(Contains(r.out, "\nNOTE: '--clockfreq' option is now obsolete."));
    std::string content = ReadFile(log);
    EXPECT_TRUE(Contains(content, "\n  Connect timeout set to 3"));
    EXPECT_TRUE(Contains(content, "\nERROR: Invalid time for '--sleep'"));
    EXPECT_FALSE(Contains(content, "clockfreq"));
    EXPECT_FALSE(Contains(content, "plain"));
}

TEST(Messages, RedirectedAndSilentOutput) {
    Sandbox box;
    std::string out = box.Path("out.txt");
    RunResult redirected = box.Run({"--echo=screen", "--redirout=" + out, "--echo=file"});
    EXPECT_EQ(redirected.exitCode, 0);
    EXPECT_EQ(redirected.out, "\nscreen");
    EXPECT_EQ(ReadFile(out), "\nfile\n");

    RunResult silent = box.Run({"--silent", "--echo=hidden", "--sleep=0"});
    EXPECT_EQ(silent.exitCode, 70);
    EXPECT_EQ(silent.out, "");
    EXPECT_EQ(silent.err, "\nERROR: Invalid time for '--sleep'");

    RunResult bad = box.Run({"--redirout=" + box.Path("no/such/dir/out.txt")});
    EXPECT_EQ(bad.exitCode, 70);
    EXPECT_EQ(bad.err, "\nERROR: Redirecting stdout failed.");
}

TEST(Messages, FileOptionsWithoutAFileNameAreErrors) {
    Sandbox box;
    for (const char* option : {"--redirout", "--debuglog=", "--cmdfile"}) {
        RunResult r = box.Run({option});
        EXPECT_EQ(r.exitCode, 70) << option;
        EXPECT_TRUE(Contains(r.err, "ERROR: Missing file name for '--")) << option << r.err;
    }
    RunResult missing = box.Run({"--cmdfile=" + box.Path("absent.cmd")});
    EXPECT_EQ(missing.exitCode, 70);
    EXPECT_EQ(missing.err, "\nERROR: Can't open file " + box.Path("absent.cmd") + ".");
    // A directory is no command file: reading it must not spin on its read error.
    RunOptions quick = box.Options();
    quick.timeoutMs = 5000;
    RunResult directory = RunVorlo({"--cmdfile=" + box.tmp, "--echo=after"}, quick);
    EXPECT_EQ(directory.exitCode, 70);
    EXPECT_EQ(directory.err, "\nERROR: Can't open file " + box.tmp + ".");
    EXPECT_TRUE(box.TempDirEmpty());
}

TEST(CommandFiles, CommentsBlanksNestingAndTranslationOnlyOptions) {
    Sandbox box;
    WriteFile(box.Path("inner.cmd"), "--echo=inner\n");
    WriteFile(box.Path("outer.cmd"),
              "# a comment\n"
              "   --echo=first   \n"
              "\n"
              "\t--cmdfile=" + box.Path("inner.cmd") + "\n"
              "--localhostonly\n"
              "--echo=last\n");
    RunResult r = box.Run({"--cmdfile=" + box.Path("outer.cmd"), "--echo=after"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "\nfirst\ninner\nlast\nafter\n");

    WriteFile(box.Path("daemon.cmd"), "--daemon\n");
    RunResult daemon = box.Run({"--cmdfile=" + box.Path("daemon.cmd")});
    EXPECT_EQ(daemon.exitCode, 70);
    EXPECT_EQ(daemon.err, "\nERROR: Unknown argument '--daemon'.");

    WriteFile(box.Path("short.cmd"), "x\n");
    RunResult shortLine = box.Run({"--cmdfile=" + box.Path("short.cmd")});
    EXPECT_EQ(shortLine.exitCode, 70);
    EXPECT_EQ(shortLine.err, "\nERROR: Unknown argument 'x'.");
}

TEST(CommandFiles, ACommandFileThatNamesItselfStopsWithAnError) {
    Sandbox box;
    std::string self = box.Path("self.cmd");
    WriteFile(self, "--echo=again\n--cmdfile=" + self + "\n");
    RunResult r = box.Run({"--cmdfile=" + self});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_TRUE(Contains(r.err, "ERROR: Command files nested deeper than 16 levels")) << r.err;
    EXPECT_TRUE(box.TempDirEmpty());
}

TEST(CommandFiles, DebugShortOptionActsAtTranslation) {
    Sandbox box;
    RunResult r = box.Run({"--echo=x", "-d"});
    EXPECT_EQ(r.exitCode, 0);
    // Debug is on before the first line runs, so the translation message comes first.
    EXPECT_EQ(r.out.rfind("\n  Debug mode on.", 0), 0u) << r.out;
    // The debug output carries no developer's notes about the runtime.
    EXPECT_FALSE(Contains(r.out, "fcloseall"));
}

TEST(Commands, SettingCommandsAndTheirTexts) {
    Sandbox box;
    RunResult r = box.Run({"--device", "--devtype", "--nolocalecho", "--usermode", "--extmem", "--noexec", "--storectx",
                           "--restorectx", "--seckey=01", "--bootldr=02", "--connection=COM3,115200,8,N,1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "\ncmdHdlr_devtype(): Function not implemented."
              "\ncmdHdlr_devtype(): Function not implemented."
              "\nStore contect."
              "\nRestore context.\n");
    // The commands that look at the target need one: never a silent success.
    WriteFile(box.Path("one.hex"), ":0100000055AA\r\n:00000001FF\r\n");
    for (const char* command : {"--read", "--verify", "--blankcheck", "--deviceinfo"}) {
        r = box.Run({"--importcode=" + box.Path("one.hex"), command});
        EXPECT_EQ(r.exitCode, 70) << command;
        EXPECT_EQ(r.err, "\nERROR: Use --driver switch to select driver.") << command;
    }
}

TEST(Commands, SleepAcceptsOnlyPositiveTimes) {
    Sandbox box;
    RunResult ok = box.Run({"-d", "--sleep=20", "--echo=woke"});
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_TRUE(Contains(ok.out, "\n  Sleep(20)\nwoke"));
    for (const char* value : {"--sleep=abc", "--sleep=0", "--sleep", "--sleep=-5"}) {
        RunResult bad = box.Run({value, "--echo=never"});
        EXPECT_EQ(bad.exitCode, 70) << value;
        EXPECT_EQ(bad.err, "\nERROR: Invalid time for '--sleep'") << value;
        EXPECT_FALSE(Contains(bad.out, "never"));
    }
}

TEST(Commands, ExitEndsTheRunWithZeroAndSkipsLaterArguments) {
    Sandbox box;
    RunResult r = box.Run({"--echo=one", "--EXIT", "--echo=two", "--nosuchoption"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\none\n");
    EXPECT_TRUE(box.TempDirEmpty());
}

TEST(Commands, HistoryIsPrintedUnchanged) {
    Sandbox box;
    RunResult r = box.Run({"--history"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("\n   0.06 08.12.2026 KT\n  " + std::string(73, '-') + "\n   - ", 0), 0u) << r.out;
}

TEST(Drivers, ListSelectionAndNoDriverOperations) {
    Sandbox box;
    RunResult list = box.Run({"--drvlist"});
    EXPECT_EQ(list.out,
              "\nAvailable drivers"
              "\n  MEC_IAP:     MEC in-application programming."
              "\n  LPC2000_ISP: NXP LPC2xxx builtin bootloader."
              "\n  MODBUS:      Modbus compatible in-circuit programming."
              "\n               Forwarding: --driver=modbus,1,3,5"
              "\n  GEN_IAP:     Generic in-circuit programming protocol."
              "\n  MIC_EXTMEM:  MIC external flash programming driver."
              "\n  MSP430BSL:   MPS430F5xxx/6xxx BSL through serial port.\n");

    // Unknown names are ignored silently; a disconnect without a driver is harmless.
    RunResult quiet = box.Run({"-d", "--driver=msp430", "--disconnect"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(Contains(quiet.out, "\n  Disconnecting\n  End "));
}

TEST(Interrupt, CtrlCAndTerminationEndTheRunWith70AndRemoveTheCommandFile) {
  for (int sig : {SIGINT, SIGTERM}) {
    Sandbox box;
    int outPipe[2], errPipe[2];
    ASSERT_EQ(pipe(outPipe), 0);
    ASSERT_EQ(pipe(errPipe), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        setenv("TMP", box.tmp.c_str(), 1);
        execl(VORLO_BIN, VORLO_BIN, "--echo=started", "--sleep=20000", (char*)nullptr);
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    char buffer[256];
    std::string out;
    while (out.find("started") == std::string::npos) {
        ssize_t n = read(outPipe[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        out.append(buffer, n);
    }
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    for (ssize_t n; (n = read(outPipe[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    std::string err;
    for (ssize_t n; (n = read(errPipe[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
    close(outPipe[0]);
    close(errPipe[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 70);
    EXPECT_TRUE(Contains(out, "\nNOTE: Signal " + std::to_string(sig) + " catched")) << out;
    EXPECT_EQ(err, "\nERROR: Terminated by user.");
    EXPECT_TRUE(box.TempDirEmpty());
  }
}

TEST(Interrupt, AReaderThatLeftThePipeDoesNotEndTheRun) {
    Sandbox box;
    int outPipe[2];
    ASSERT_EQ(pipe(outPipe), 0);
    close(outPipe[0]);  // the reader is gone before the first line ("vorlo ... | head -0")
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(outPipe[1], 1);
        setenv("TMP", box.tmp.c_str(), 1);
        execl(VORLO_BIN, VORLO_BIN, "--echo=lost", "--echo=again", (char*)nullptr);
        _exit(127);
    }
    close(outPipe[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(box.TempDirEmpty());
}
