// One port on a memory device, on virtual time.
#include <gtest/gtest.h>

#include "host/MegSerialPort.h"
#include "platform/clock.h"
#include "serialport/Backend.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ScopedMemoryPort;
using mbeeg::test::ScriptedDevice;

namespace {

class PortTest : public ::testing::Test {
protected:
    void SetUp() override {
        mbeeg::serial::setRealPortsEnabled(false);
        ASSERT_TRUE(port.openRW(mem.name(), 1, 1));
    }
    std::int64_t now() { return platform::clock().nowUs(); }

    platform::ScopedVirtualClock clock;
    std::shared_ptr<ScriptedDevice> dev = std::make_shared<ScriptedDevice>();
    ScopedMemoryPort mem{dev, 0};
    CMegSerialPortzq port;
};

}  // namespace

TEST_F(PortTest, OpensByAliasOrPathOnceAtATimeAndKeepsItsName) {
    CMegSerialPortzq other(L"com201", 230400);
    EXPECT_EQ(other.isOpen(), 0);  // the constructor opens nothing
    EXPECT_EQ(other.openSynRW(L"mem:0", 1), 0);
    EXPECT_NE(other.lastError().Find("already open"), -1) << other.lastError().GetString();
    EXPECT_EQ(other.getPortName(), L"mem:0");  // kept even when the open failed
    EXPECT_EQ(port.closeCom(1) + port.closeCom(0), 2);  // repeating is harmless
    EXPECT_EQ(port.getPortName(), L"COM201");

    ASSERT_EQ(other.openSynRW(L"com201", 0), 1);  // any case
    EXPECT_EQ(dev->lastLineRate(), 230400u);     // line set up at open with the stored rate
    EXPECT_EQ(other.setupCom4Eeg(921600), 1);
    EXPECT_EQ(dev->lastLineRate(), 921600u);
    EXPECT_EQ(other.setting4UsbVc(1000, 0), 1);
    EXPECT_EQ(other.getReplyTimeoutMs(), 1000);

    CMegSerialPortzq none;
    EXPECT_EQ(none.openRW(L"COM250", 1, 1), 0);  // a memory alias nobody registered
    EXPECT_NE(none.lastError().Find("no such port"), -1) << none.lastError().GetString();
    EXPECT_EQ(none.openRW(L"/dev/mbeeg-no-such-tty", 1, 1), 0);
    EXPECT_NE(none.lastError().Find("No such file"), -1) << none.lastError().GetString();
    unsigned char b;
    EXPECT_EQ(none.setupCom4Eeg(115200) + none.writeSynCmdUc1('x') + none.resetDevice() + none.reads(&b, 1), 0);
    EXPECT_EQ(none.readSynWaitAll2StrA(10, 160), "");
}

TEST_F(PortTest, EveryWriteFormSendsItsBytesInOrder) {
    EXPECT_EQ(port.writeSynCmdUc1(0xF0), 1);
    EXPECT_EQ(port.writeCmdUc1(0x01, 160), 1);
    const unsigned char frame[] = {'*', '*', 'A'};
    EXPECT_EQ(port.writeCmdUca(frame, 3, 160), 1);
    EXPECT_EQ(port.writeSynWaitCmdC("//xyz", 2, 160), 1);
    EXPECT_EQ(port.writeSynWaitCmdC("x1060110X", -1, 160), 1);
    EXPECT_EQ(port.writeCmdUca(frame, 0, 160), 1);
    EXPECT_EQ(port.writeCmdUca(nullptr, 2, 160), 0);
    EXPECT_EQ(port.writeCmdUca(frame, -1, 160), 0);
    EXPECT_EQ(dev->written(), std::string("\xF0\x01**A//x1060110X"));
}

TEST_F(PortTest, StreamReadsWaitAtMostTheirBound) {
    unsigned char buf[64];
    std::int64_t t0 = now();
    EXPECT_EQ(port.reads(buf, 33), 0);
    EXPECT_EQ(now() - t0, 4000);  // nothing came: exactly the default wait

    t0 = now();
    dev->push("\xA0", t0 + 1500);
    EXPECT_EQ(port.reads(buf, 1), 1);
    EXPECT_EQ(buf[0], 0xA0);
    EXPECT_EQ(now() - t0, 1500);  // returns at the byte, not at the bound

    // What is waiting is returned at once, at most count of it.
    t0 = now();
    dev->push(std::string(40, 'p'));
    EXPECT_EQ(port.reads(buf, 32), 32);
    EXPECT_EQ(port.reads(buf, 32), 8);
    EXPECT_EQ(now(), t0);

    port.setStreamReadWaitUs(1000);
    dev->push("late", now() + 1001);
    t0 = now();
    EXPECT_EQ(port.reads(buf, 4), 0);
    EXPECT_EQ(now() - t0, 1000);
    EXPECT_EQ(port.reads(buf, 0), 0);
    EXPECT_EQ(port.reads(nullptr, 4), 0);
    EXPECT_EQ(port.reads(buf, 4), 4);
}

TEST_F(PortTest, AStreamingBoardCannotHoldAReplyRead) {
    // A board streaming 33-byte packets never leaves a gap of 4 ms.
    const std::int64_t t0 = now();
    std::string stream;
    for (int i = 0; i < 3000; ++i) stream += std::string(33, '\x55');
    dev->push(stream, t0 + 1'000, 87);  // ~115200 baud
    CStringA got = port.readSynWaitAll2StrA(4, 16);
    const std::int64_t took = now() - t0;
    EXPECT_GT(took, 2'000'000);
    EXPECT_LE(took, 16'000 + 2'000'000);
    EXPECT_GT(got.GetLength(), 20'000);
}
