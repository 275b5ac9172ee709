#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "context/run_context.hpp"
#include "drivers/driver.hpp"
#include "serial/interface.hpp"
#include "serial/port_list.hpp"
#include "serial/remembered_port.hpp"
#include "serial/serial_port.hpp"
#include "support/run_vorlo.hpp"
#include "unit/serial_pty.hpp"

namespace {
// A driver that answers on the ports the test chooses and records every connect.
std::set<std::string> g_answering;
std::vector<std::string> g_connects;
int g_closes = 0;

const DriverDescriptor kFake = {
    .connect =
        [](ConnectCall&) {
            g_connects.push_back(ComDevicePath());
            return g_answering.count(ComDevicePath()) > 0;
        },
    .closing = [] { ++g_closes; },
};

bool FakeOpen(const char* connection) { return DevOpenInterface(kFake, connection); }
bool FakeClose(int) { return DevCloseInterface(kFake, 0); }
bool FakeConnect(const char* key, char* info) { return DevConnect(kFake, key, info); }

class AutoSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = MakeTempDir();
        setenv("HOME", home.c_str(), 1);
        for (auto& p : ptys) p = std::make_unique<PtyPair>();
        std::string list;
        for (auto& p : ptys) list += p->SlavePath() + (list.size() % 2 ? " " : ":");
        setenv("VORLO_PORTS", list.c_str(), 1);
        g_answering.clear();
        g_connects.clear();
        g_closes = 0;
    }
    void TearDown() override { CloseInterfaceCom(); }

    std::string Path(int i) const { return ptys[i]->SlavePath(); }
    bool Search(const char* autoString) {
        FakeOpen(autoString);
        char info[256] = "";
        return FakeConnect("", info);
    }

    std::string home;
    std::unique_ptr<PtyPair> ptys[3];
};
}  // namespace

TEST_F(AutoSearchTest, TriesPortsLastFirstAndRemembersTheOneThatAnswered) {
    g_answering = {Path(1)};
    // Only the virtual ports: the machine's own serial ports stay out of the test.
    ASSERT_TRUE(Search("AUTO(virtual port),115200,8,N,1"));
    EXPECT_EQ(g_connects, (std::vector<std::string>{Path(2), Path(1)}));
    EXPECT_EQ(g_closes, 1);
    EXPECT_EQ(std::string(ConnectionString()), Path(1) + ",115200,8,N,1");
    EXPECT_EQ(std::string(RememberedPortRead()), Path(1));
    EXPECT_TRUE(ComIsOpen());
    EXPECT_EQ(ComBaudRate(), 115200u);
    // The store lives under the user's home directory.
    EXPECT_NE(ReadFile(home + "/.Vorlo").find("AutoPort=" + Path(1)), std::string::npos);
}

TEST_F(AutoSearchTest, TheRememberedPortIsTriedFirst) {
    RememberedPortWrite(Path(0).c_str());
    g_answering = {Path(0)};
    ASSERT_TRUE(Search("AUTO(virtual port),9600,8,N,1"));
    EXPECT_EQ(g_connects, (std::vector<std::string>{Path(0)}));
    EXPECT_EQ(std::string(RememberedPortRead()), Path(0));
}

TEST_F(AutoSearchTest, AFailedRememberedPortIsNotTriedTwice) {
    RememberedPortWrite(Path(2).c_str());
    g_answering = {Path(0)};
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Search("AUTO(virtual port),9600,8,N,1"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_connects, (std::vector<std::string>{Path(2), Path(1), Path(0)}));
    EXPECT_NE(out.find("\nTrying port " + Path(2)), std::string::npos);
    EXPECT_EQ(std::string(RememberedPortRead()), Path(0));
}

TEST_F(AutoSearchTest, ARememberedPortThatIsGoneFallsBackToTheList) {
    RememberedPortWrite("/dev/pts/vanished");
    g_answering = {Path(2)};
    ASSERT_TRUE(Search("AUTO(virtual port),9600,8,N,1"));
    EXPECT_EQ(g_connects, (std::vector<std::string>{Path(2)}));
    EXPECT_EQ(std::string(RememberedPortRead()), Path(2));
}

TEST_F(AutoSearchTest, TheFilterSelectsByNameAndIsKeptUntilReplaced) {
    g_answering = {Path(0), Path(1), Path(2)};
    std::string filtered = "AUTO(" + Path(0) + "),9600,8,N,1";
    ASSERT_TRUE(Search(filtered.c_str()));
    EXPECT_EQ(g_connects, (std::vector<std::string>{Path(0)}));
    EXPECT_STREQ(AutoSearch().filter, Path(0).c_str());

    // No "(": the filter stays. "(" without ")": every port qualifies.
    FakeOpen("AUTO,9600,8,N,1");
    EXPECT_STREQ(AutoSearch().filter, Path(0).c_str());
    FakeOpen("AUTO(abc,9600,8,N,1");
    EXPECT_STREQ(AutoSearch().filter, "");
}

TEST_F(AutoSearchTest, ASearchWithoutAnswerLeavesTheAutoFormAndTheReopenPath) {
    RememberedPortWrite(Path(0).c_str());
    EXPECT_FALSE(Search("AUTO(virtual port),57600,8,N,1"));
    EXPECT_EQ(g_connects.size(), 3u);
    EXPECT_EQ(std::string(ConnectionString()), "AUTO,57600,8,N,1");
    EXPECT_EQ(std::string(RememberedPortRead()), "");
    EXPECT_FALSE(ComIsOpen());

    // The connect loop calls again: the last candidate (the remembered port was tried
    // first and skipped in the list) is reopened and tried.
    g_connects.clear();
    testing::internal::CaptureStdout();
    char info[256] = "";
    EXPECT_FALSE(FakeConnect("", info));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_connects, (std::vector<std::string>{Path(1)}));
}

TEST_F(AutoSearchTest, NoPortAtAllIsReported) {
    setenv("VORLO_PORTS", "", 1);
    RememberedPortWrite("stale");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Search("AUTO(no such port anywhere),9600,8,N,1"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\nNo connection found!"), std::string::npos);
    EXPECT_EQ(std::string(RememberedPortRead()), "");

    // A remembered port that is there but silent, and a list that is empty: the
    // connection setting goes back to the AUTO form, not to the silent port.
    RememberedPortWrite(Path(0).c_str());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Search("AUTO(no such port anywhere),9600,8,N,1"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_connects, (std::vector<std::string>{Path(0)}));
    EXPECT_EQ(std::string(ConnectionString()), "AUTO,9600,8,N,1");
    EXPECT_EQ(std::string(RememberedPortRead()), "");
}

TEST_F(AutoSearchTest, AConcreteStringOpensAtOnceAndKeepsThePortName) {
    std::string connection = Path(1) + " 19200 8 n 1";
    ASSERT_TRUE(FakeOpen(connection.c_str()));
    EXPECT_TRUE(ComIsOpen());
    EXPECT_EQ(std::string(ComDevicePath()), Path(1));
    EXPECT_EQ(ComBaudRate(), 19200u);
    FakeClose(0);
    EXPECT_FALSE(ComIsOpen());
}

TEST_F(AutoSearchTest, TheListHoldsVirtualPortsAfterTheSystemOnesAndAtMost32) {
    std::string many;
    std::vector<std::unique_ptr<PtyPair>> extra;
    for (int i = 0; i < 35; ++i) {
        extra.push_back(std::make_unique<PtyPair>());
        many += extra.back()->SlavePath() + ":";
    }
    setenv("VORLO_PORTS", many.c_str(), 1);
    EXPECT_EQ(PortEnumerate("virtual port", false, true, true), 32);
    EXPECT_EQ(PortEnumerate("virtual port", false, false, true), 0);  // virtual ports are not USB
    setenv("VORLO_PORTS", (Path(0) + " /nonexistent/port " + Path(0)).c_str(), 1);
    ASSERT_EQ(PortEnumerate("virtual port", false, true, true), 1);
    char description[8];
    EXPECT_EQ(std::string(PortTakeNext(description, sizeof description)), Path(0));
    EXPECT_STREQ(description, "virtual");
    EXPECT_EQ(PortTakeNext(), nullptr);
}
