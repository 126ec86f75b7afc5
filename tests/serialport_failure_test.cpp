// A dongle pulled out in use: the port fails at once, works again after re-opening.
#include <gtest/gtest.h>

#include "host/MegSerialPort.h"
#include "platform/clock.h"
#include "serialport/Backend.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ScopedMemoryPort;
using mbeeg::test::ScriptedDevice;

TEST(SerialFailure, UnpluggedPortFailsWithoutWaitingAndRecoversAfterReopen) {
    platform::ScopedVirtualClock clock;
    auto dev = std::make_shared<ScriptedDevice>();
    dev->reply("v", "OpenBCI$$$", 1000);
    auto mem = std::make_unique<ScopedMemoryPort>(dev, 4);
    CMegSerialPortzq port(mem->name(), 115200);
    ASSERT_EQ(port.openRW(port.getPortName(), 1, 1), 1);

    unsigned char buf[33];
    dev->push(std::string(330, '\xA0'), -1, 87);
    EXPECT_GT(port.reads(buf, 33), 0);
    dev->unplug();

    const std::int64_t t0 = platform::clock().nowUs();
    EXPECT_EQ(port.reads(buf, 33), 0);
    EXPECT_TRUE(port.isBroken());
    EXPECT_EQ(port.isOpen(), 0);
    EXPECT_NE(port.lastError().Find("unplugged"), -1) << port.lastError().GetString();
    EXPECT_EQ(port.reads(buf, 33), 0);
    EXPECT_EQ(port.writeSynCmdUc1('s'), 0);
    CStringA reply("x");
    EXPECT_EQ(port.sendCmdGetRspst("v", reply, 5000), 0);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(port.readSynWaitAll2StrA(10, 1000), "");
    EXPECT_EQ(port.resetDevice(), 0);
    port.purgeAll();
    EXPECT_EQ(platform::clock().nowUs(), t0);  // none of it waited
    EXPECT_TRUE(port.isBroken());

    // Still unplugged: re-opening fails with the reason.
    EXPECT_EQ(port.openSynRW(port.getPortName(), 0), 0);
    EXPECT_NE(port.lastError().Find("unplugged"), -1);

    dev->plug();
    ASSERT_EQ(port.openSynRW(port.getPortName(), 0), 1);
    EXPECT_FALSE(port.isBroken());
    EXPECT_EQ(port.sendCmdGetRspst("v", reply, 5000), 1);
    EXPECT_EQ(reply, "OpenBCI$$$");

    // A write to a pulled dongle breaks the port too; so does the port leaving the system.
    dev->unplug();
    EXPECT_EQ(port.writeCmdUc1('b', 160), 0);
    EXPECT_TRUE(port.isBroken());
    dev->plug();
    ASSERT_EQ(port.openSynRW(port.getPortName(), 1), 1);
    mem.reset();
    const std::int64_t t1 = platform::clock().nowUs();
    EXPECT_EQ(port.reads(buf, 1), 0);
    EXPECT_TRUE(port.isBroken());
    EXPECT_EQ(platform::clock().nowUs(), t1);
    EXPECT_EQ(port.openSynRW(port.getPortName(), 1), 0);
}
