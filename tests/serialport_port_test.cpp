// One port on a memory device, on virtual time: opening, writing, and the
// bounds of every kind of read the driver relies on.
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
    EXPECT_EQ(port.getPortName(), L"COM201");
    EXPECT_EQ(port.isOpen(), 1);

    CMegSerialPortzq other(L"com201", 230400);
    EXPECT_EQ(other.isOpen(), 0);  // the constructor opens nothing
    EXPECT_EQ(other.openSynRW(L"mem:0", 1), 0);
    EXPECT_NE(other.lastError().Find("already open"), -1) << other.lastError().GetString();
    EXPECT_EQ(other.getPortName(), L"mem:0");  // kept even when the open failed

    EXPECT_EQ(port.closeCom(1), 1);
    EXPECT_EQ(port.closeCom(0), 1);  // repeating is harmless
    EXPECT_EQ(port.isOpen(), 0);
    EXPECT_EQ(port.getPortName(), L"COM201");

    ASSERT_EQ(other.openSynRW(L"com201", 0), 1);  // any case
    EXPECT_EQ(other.lastError(), "");
    EXPECT_EQ(dev->lastLineRate(), 230400u);  // line set up at open with the stored rate
    EXPECT_EQ(other.setupCom4Eeg(921600), 1);
    EXPECT_EQ(dev->lastLineRate(), 921600u);
    EXPECT_EQ(other.setting4UsbVc(1000, 0), 1);
    EXPECT_EQ(other.getReplyTimeoutMs(), 1000);
    EXPECT_EQ(other.resetDevice(), 1);

    CMegSerialPortzq none;
    EXPECT_EQ(none.openRW(L"COM250", 1, 1), 0);  // a memory alias nobody registered
    EXPECT_NE(none.lastError().Find("no such port"), -1) << none.lastError().GetString();
    EXPECT_EQ(none.openRW(L"/dev/mbeeg-no-such-tty", 1, 1), 0);
    EXPECT_NE(none.lastError().Find("/dev/mbeeg-no-such-tty"), -1) << none.lastError().GetString();
    EXPECT_NE(none.lastError().Find("No such file"), -1) << none.lastError().GetString();
    EXPECT_EQ(none.openRW(L"", 1, 1), 0);
    EXPECT_EQ(none.setupCom4Eeg(115200), 0);
    EXPECT_EQ(none.setting4UsbVc(1000, 0), 0);
    EXPECT_EQ(none.writeSynCmdUc1('x'), 0);
    EXPECT_EQ(none.resetDevice(), 0);
    unsigned char b;
    EXPECT_EQ(none.reads(&b, 1), 0);
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

TEST_F(PortTest, ReplyReadsWaitForTheFirstByteThenEndOnAGapOrDollars) {
    std::int64_t t0 = now();
    EXPECT_EQ(port.readSynWaitAll2StrA(10, 160), "");
    EXPECT_EQ(now() - t0, 160'000);

    // First byte just inside / just outside the first-byte wait.
    t0 = now();
    dev->push("in", t0 + 159'000);
    EXPECT_EQ(port.readSynWaitAll2StrA(10, 160), "in");
    t0 = now();
    dev->push("out", t0 + 161'000);
    EXPECT_EQ(port.readSynWaitAll2StrA(10, 160), "");
    EXPECT_EQ(port.readSynWaitAll2StrA(10, 160), "out");  // not lost, read next time

    // Pieces closer than the gap join; a piece after a longer silence waits for the next read.
    t0 = now();
    dev->push("abc", t0 + 5'000);
    dev->push("def", t0 + 14'000);
    dev->push("ghi", t0 + 30'000);
    EXPECT_EQ(port.readSynWaitAll2StrA(10, 200), "abcdef");
    EXPECT_EQ(now() - t0, 24'000);
    EXPECT_EQ(port.readSynWaitAll2StrA(10, 200), "ghi");

    // "$$$" ends the reply at once, even with a long gap allowed.
    t0 = now();
    dev->push("Success: System is Up$$$", t0 + 1'000);
    dev->push("more", t0 + 2'000);
    EXPECT_EQ(port.readSynWaitAll2StrA(300, 1000), "Success: System is Up$$$");
    EXPECT_EQ(now() - t0, 1'000);
    port.purgeAll();
    EXPECT_EQ(dev->pendingBytes(), 4u);  // "more" is not sent yet, so purging leaves it
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

TEST_F(PortTest, CommandAndReplyPurgesStaleInputAndEndsAtDollarsOrTheWait) {
    dev->reply("v", "OpenBCI V3 8-16 channel\nFirmware: v3.1.2\n$$$", 3'000);
    dev->push("stale stream bytes");
    CStringA reply("old");
    std::int64_t t0 = now();
    EXPECT_EQ(port.sendCmdGetRspst("v", reply, 5000), 1);
    EXPECT_EQ(reply, "OpenBCI V3 8-16 channel\nFirmware: v3.1.2\n$$$");
    EXPECT_EQ(now() - t0, 3'000);
    EXPECT_EQ(dev->written(), "v");

    // A reply that comes too late is not waited for; once it has come, the
    // next command discards it instead of taking it for its own reply.
    dev->reply("d", "updating channel settings to default$$$", 20'000);
    t0 = now();
    EXPECT_EQ(port.sendCmdGetRspst("d", reply, 10), 1);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(now() - t0, 10'000);
    clock.get().advanceUs(15'000);

    // Without "$$$" everything within the wait is collected.
    dev->reply("?", "abc", 2'000);
    dev->push("def", now() + 8'000);
    dev->push("ghi", now() + 11'000);
    t0 = now();
    EXPECT_EQ(port.sendCmdGetRspst("?", reply, 10), 1);
    EXPECT_EQ(reply, "abcdef");
    EXPECT_EQ(now() - t0, 10'000);
}
