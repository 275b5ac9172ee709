// The manual pages cover everything the programs know, read without warnings, and feed
// --help=TOPIC.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <string>

#include "base/text.hpp"
#include "commands/dispatcher.hpp"
#include "drivers/registry.hpp"
#include "frontend/help_topics.hpp"
#include "support/run_vorlo.hpp"

namespace {
std::string Page(const char* name) { return ReadFile(std::string(VORLO_SOURCE_DIR) + "/docs/man/" + name); }

// How roff spells an option: every '-' escaped.
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}
}  // namespace

TEST(Manual, VorloPageNamesEveryCommandAndDriver) {
    const std::string page = Page("vorlo.1");
    // A command written with a value is shown with it (the completion offers its '=').
    for (const CommandEntry* c = g_commandTable; c->name; ++c)
        EXPECT_NE(page.find(Roff("--" + LowerCase(c->name) + (c->value == WITH_VALUE ? "=" : ""))), std::string::npos)
            << c->name;
    for (const DriverRow* d = DriverRows(); d->keyword; ++d) {
        EXPECT_NE(page.find(".SS " + std::string(d->keyword)), std::string::npos) << d->keyword;
        std::string topic;
        char* text = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&text, &size);
        EXPECT_TRUE(WriteHelpTopic(out, LowerCase(d->keyword))) << d->keyword;
        fclose(out);
        EXPECT_NE(std::string(text, size).find("--driver=" + std::string(d->keyword)), std::string::npos) << d->keyword;
        free(text);
    }
    for (const char* section : {".SH CONNECTION", ".SH EXIT STATUS", ".SH ENVIRONMENT", ".SH FILES", ".SH EXAMPLES",
                                "AUTO", "AutoPort", "VORLO_PORTS", "VORLO_DAEMON_PORT", "dialout"})
        EXPECT_NE(page.find(section), std::string::npos) << section;
}

TEST(Manual, SimulatorPageNamesEveryProtocolAndOption) {
    const std::string page = Page("vorlo-sim.1");
    RunResult help = RunProgram(VORLO_SIM_BIN, {"--help"});
    ASSERT_EQ(help.exitCode, 0);
    std::set<std::string> options;
    std::regex option(R"((^|\s)(--[a-z0-9-]+))");
    for (std::sregex_iterator i(help.out.begin(), help.out.end(), option), end; i != end; ++i) options.insert((*i)[2]);
    EXPECT_GE(options.size(), 40u);
    for (const std::string& o : options) EXPECT_NE(page.find(Roff(o)), std::string::npos) << o;
    for (const char* p : {"gen_iap", "mic_extmem", "lpc_isp", "modbus", "lpc_iap", "mec_iap", "msp430_bsl"})
        EXPECT_NE(page.find(".SS \"Protocol " + std::string(p) + "\""), std::string::npos) << p;
}

TEST(Manual, PagesFormatWithoutWarnings) {
    if (system("command -v groff > /dev/null 2>&1") != 0) GTEST_SKIP() << "no groff";
    for (const char* name : {"vorlo.1", "vorlo-sim.1"}) {
        RunResult r = RunProgram("/bin/sh", {"-c", std::string("groff -man -ww -z ") + VORLO_SOURCE_DIR + "/docs/man/" + name});
        EXPECT_EQ(r.exitCode, 0) << name;
        EXPECT_EQ(r.err, "") << name;
    }
}

TEST(Manual, HelpTopicsPrintTheirSection) {
    struct Case {
        const char* topic;
        const char* starts;
        const char* holds;
    };
    for (Case c : {Case{"drivers", "DRIVERS\n", "   MSP430BSL\n"}, Case{"Exit Codes", "EXIT STATUS\n", "       70\n"},
                   Case{"formats", "CODE FORMATS\n", "ELF"}, Case{"connection", "CONNECTION\n", "AUTO"},
                   Case{"daemon", "DAEMON\n", "RESULT:"}, Case{"mec_iap", "   MEC_IAP\n", "2400 baud"},
                   Case{"commands", "COMMANDS\n", "--verify"}}) {
        RunResult r = RunVorlo({"--help=" + std::string(c.topic)});
        EXPECT_EQ(r.exitCode, 0) << c.topic;
        EXPECT_EQ(r.out.rfind(c.starts, 0), 0u) << c.topic << r.out.substr(0, 80);
        EXPECT_NE(r.out.find(c.holds), std::string::npos) << c.topic;
        EXPECT_EQ(r.out.find('\\'), std::string::npos) << c.topic;  // no roff escapes left
    }
    // A topic the page lacks: the help screen, as --help alone, and the topics.
    RunResult r = RunVorlo({"--help=nonsense"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.find(RunVorlo({"--help"}).out), 0u);
    EXPECT_NE(r.out.find("\nNOTE: No help topic 'nonsense'. Topics:"), std::string::npos);
    EXPECT_NE(r.out.find("\n  drivers"), std::string::npos);
}
