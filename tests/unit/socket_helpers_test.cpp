// The TCP helpers: line reading with its CR/LF rules and cutting, sending, errors.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <future>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "net/socket.hpp"

namespace {
// A connected pair of stream sockets: the test writes into one end and reads the other.
class LinePair : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override {
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    void Send(const std::string& bytes) { ASSERT_EQ(write(fds_[0], bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
    void CloseWriter() {
        close(fds_[0]);
        fds_[0] = -1;
    }
    // Reads one line; returns the result and puts the text into line.
    int Read(std::string& line, int capacity = 300) {
        std::string buffer(static_cast<size_t>(capacity), '#');
        int n = sockreadline(fds_[1], buffer.data(), capacity, reader_);
        line = buffer.c_str();
        return n;
    }
    int fds_[2] = {-1, -1};
    SockLineReader reader_;
};
}  // namespace

TEST_F(LinePair, CrLfEndsALineAndOnlyCrLf) {
    Send("QUIT:\r\nA\rB\r\nA\nB\r\n\r\nCR\r\rLF\n\n\r\n");
    std::string line;
    EXPECT_EQ(Read(line), 5);
    EXPECT_EQ(line, "QUIT:");
    EXPECT_EQ(Read(line), 3);
    EXPECT_EQ(line, "A\rB");
    EXPECT_EQ(Read(line), 3);
    EXPECT_EQ(line, "A\nB");
    EXPECT_EQ(Read(line), 0);  // an empty line
    EXPECT_EQ(line, "");
    EXPECT_FALSE(reader_.closed);
    EXPECT_EQ(Read(line), 8);
    EXPECT_EQ(line, "CR\r\rLF\n\n");
}

TEST_F(LinePair, CrLfSplitAcrossReceivesStillEndsTheLine) {
    Send("AB\r");
    std::string line;
    auto pending = std::async(std::launch::async, [&]() { return Read(line); });
    ASSERT_EQ(pending.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    Send("\nNEXT\r\n");
    EXPECT_EQ(pending.get(), 2);
    EXPECT_EQ(line, "AB");
    EXPECT_EQ(Read(line), 4);
    EXPECT_EQ(line, "NEXT");
}

TEST_F(LinePair, PeerClosingDeliversThePartialLineThenZero) {
    Send("STA");
    CloseWriter();
    std::string line;
    EXPECT_EQ(Read(line), 3);
    EXPECT_EQ(line, "STA");
    EXPECT_EQ(Read(line), 0);
    EXPECT_TRUE(reader_.closed);
    EXPECT_EQ(Read(line), 0);
}

TEST_F(LinePair, LongLinesAreCutAtCapacityMinusOne) {
    Send(std::string(400, 'x') + "\r\n" + std::string(299, 'y') + "\r\nZ\r\n");
    std::string line;
    EXPECT_EQ(Read(line), 300);
    EXPECT_EQ(line, std::string(299, 'x'));
    EXPECT_EQ(Read(line), 101);
    EXPECT_EQ(line, std::string(101, 'x'));
    // Exactly capacity - 1 characters are a whole line, not a cut one.
    EXPECT_EQ(Read(line), 299);
    EXPECT_EQ(line, std::string(299, 'y'));
    EXPECT_EQ(Read(line), 1);
    EXPECT_EQ(line, "Z");
}

TEST_F(LinePair, ACrAtTheCutIsKeptForTheNextPart) {
    // Four characters fit; the CR after them is not yet known to be data or a line end.
    Send("abcd\rX\r\nabcd\r\nabcde\r\n");
    std::string line;
    EXPECT_EQ(Read(line, 5), 5);
    EXPECT_EQ(line, "abcd");
    EXPECT_EQ(Read(line, 5), 2);
    EXPECT_EQ(line, "\rX");
    EXPECT_EQ(Read(line, 5), 4);
    EXPECT_EQ(line, "abcd");
    EXPECT_EQ(Read(line, 5), 5);
    EXPECT_EQ(Read(line, 5), 1);
    EXPECT_EQ(line, "e");
}

TEST_F(LinePair, SendAddsCrLfAndSurvivesAClosedPeer) {
    EXPECT_EQ(socksendstr(fds_[1], "READY"), 5);
    EXPECT_EQ(socksend(fds_[1], "BUSY", 2), 2);
    char got[16] = {};
    ASSERT_EQ(read(fds_[0], got, sizeof got), 11);
    EXPECT_EQ(std::string(got, 11), "READY\r\nBU\r\n");
    CloseWriter();
    // Without MSG_NOSIGNAL this would end the test process with SIGPIPE.
    for (int i = 0; i < 3; ++i) EXPECT_LT(socksendstr(fds_[1], "OK"), 0);
    EXPECT_EQ(errno, EPIPE);
}

TEST(SocketHelpers, ServerAndClientMeetThroughOpenAndInfo) {
    int server = sockopen(nullptr, 0x7F000001u, 0);
    ASSERT_GE(server, 0);
    uint32_t address = 0;
    uint16_t port = 0;
    ASSERT_EQ(sockinfo(server, &address, &port), 0);
    EXPECT_EQ(ntohl(address), 0x7F000001u);
    ASSERT_NE(port, 0);
    ASSERT_EQ(listen(server, 1), 0);
    int client = sockopen("localhost", 0, ntohs(port));
    ASSERT_GE(client, 0);
    int accepted = accept(server, nullptr, nullptr);
    EXPECT_EQ(socksendstr(client, "STAT:"), 5);
    SockLineReader reader;
    char line[300];
    EXPECT_EQ(sockreadline(accepted, line, sizeof line, reader), 5);
    EXPECT_STREQ(line, "STAT:");
    for (int fd : {client, accepted, server}) close(fd);

    // Connecting where nobody listens fails with -1.
    EXPECT_EQ(sockopen("127.0.0.1", 0, ntohs(port)), -1);
}

TEST(SocketHelpers, ErrorsPrintTheirTextOrFallBackToPerror) {
    testing::internal::CaptureStderr();
    errno = EADDRINUSE;
    sockerror("sockopen");
    errno = ENOENT;
    sockerror("other");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "sockopen: (" + std::to_string(EADDRINUSE) + ") Address already in use\nother: " +
                       std::string(strerror(ENOENT)) + "\n");
}
