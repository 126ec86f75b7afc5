// The termios backend over a pseudo-terminal pair, as mbeeg-sim is reached.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host/MegSerialPort.h"
#include "platform/clock.h"
#include "serialport/ComAlias.h"

namespace {

// Reads from the pty master until `want` bytes came (or 5 s of silence: a failure).
std::string readMaster(int fd, std::size_t want) {
    std::string got;
    char buf[256];
    while (got.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) break;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

void writeMaster(int fd, const std::string& s) { ASSERT_EQ(::write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size())); }

// A pty pair with the slave closed: the master fd and the slave's COM alias.
std::pair<int, CString> openPty() {
    int master = -1, slave = -1;
    char name[128];
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return {-1, CString()};
    ::close(slave);
    return {master, CString(CStringA(mbeeg::serial::aliasForPath(name)))};
}

}  // namespace

TEST(PtyPort, RoundTripOverTermiosAndHangUpBreaksThePort) {
    platform::ScopedVirtualClock clock;  // the tty waits in the kernel regardless
    const auto [master, alias] = openPty();
    ASSERT_GE(master, 0);
    {
        // Raw master side, so that nothing is echoed or translated.
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }

    CMegSerialPortzq port;
    ASSERT_EQ(port.openSynRW(alias, 1), 1) << port.lastError().GetString();
    EXPECT_EQ(port.getPortName(), alias);
    EXPECT_EQ(port.setupCom4Eeg(115200), 1) << port.lastError().GetString();
    EXPECT_EQ(port.setting4UsbVc(1000, 0), 1);  // no latency timer on a pty: still fine

    EXPECT_EQ(port.writeSynWaitCmdC("x1060110X", -1, 160), 1);
    EXPECT_EQ(readMaster(master, 9), "x1060110X");

    writeMaster(master, "Success: System is Up$$$");
    EXPECT_EQ(port.readSynWaitAll2StrA(300, 1000), "Success: System is Up$$$");

    std::string packet(33, '\0');
    packet[0] = '\xA0';
    packet[32] = '\xC0';
    writeMaster(master, packet);
    unsigned char buf[33];
    int got = 0;
    while (got < 33) {
        int n = port.reads(buf + got, 33 - got);
        if (n == 0) break;
        got += n;
    }
    ASSERT_EQ(got, 33);
    EXPECT_EQ(buf[0], 0xA0);
    EXPECT_EQ(buf[32], 0xC0);

    // A board answering the command it was sent.
    std::thread board([&] {
        if (readMaster(master, 1) == "d") writeMaster(master, "updating channel settings to default$$$");
    });
    CStringA reply;
    EXPECT_EQ(port.sendCmdGetRspst("d", reply, 5000), 1);
    board.join();
    EXPECT_EQ(reply, "updating channel settings to default$$$");

    // The other end goes away: the port fails at once instead of waiting.
    ::close(master);
    EXPECT_EQ(port.reads(buf, 33), 0);
    EXPECT_TRUE(port.isBroken());
    EXPECT_EQ(port.isOpen(), 0);
    EXPECT_EQ(port.closeCom(0), 1);
}

// A port is one program's at a time, root or not: a second opener is told who
// has it instead of fighting over the dongle's bytes.
TEST(PtyPort, ASecondOpenerIsToldWhoHasThePort) {
    const auto [master, alias] = openPty();
    ASSERT_GE(master, 0);
    CMegSerialPortzq first, second;
    ASSERT_EQ(first.openSynRW(alias, 1), 1) << first.lastError().GetString();
    EXPECT_EQ(second.openSynRW(alias, 1), 0);
    EXPECT_EQ(std::string(second.lastError().GetString()), std::string(CStringA(alias).GetString()) +
                                                               " is in use by another program (pid " +
                                                               std::to_string(::getpid()) + ")");
    first.closeCom(1);
    EXPECT_EQ(second.openSynRW(alias, 1), 1) << second.lastError().GetString();
    second.closeCom(1);
    ::close(master);
}
