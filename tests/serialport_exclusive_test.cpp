// A port is one program's at a time, root or not: a second opener is told who
// has it instead of fighting over the dongle's bytes.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <string>

#include "host/MegSerialPort.h"
#include "serialport/ComAlias.h"

TEST(PortExclusive, ASecondOpenerIsToldWhoHasThePort) {
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    const CString alias(CStringA(mbeeg::serial::aliasForPath(name)));

    CMegSerialPortzq first, second;
    ASSERT_EQ(first.openSynRW(alias, 1), 1) << first.lastError().GetString();
    EXPECT_EQ(second.openSynRW(alias, 1), 0);
    const std::string why = second.lastError().GetString();
    EXPECT_EQ(why, std::string(CStringA(alias).GetString()) + " is in use by another program (pid " +
                       std::to_string(::getpid()) + ")");

    first.closeCom(1);
    EXPECT_EQ(second.openSynRW(alias, 1), 1) << second.lastError().GetString();
    second.closeCom(1);
    ::close(master);
}
