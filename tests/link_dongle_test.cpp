// The dongle object: its port, persisted radio settings, gain tracker and copies.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/profile.h"
#include "serialport/Backend.h"
#include "tests/support/Files.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::portIsFree;
using mbeeg::test::ScopedMemoryPort;
using mbeeg::test::ScriptedDevice;

namespace {

class DongleTest : public testing::Test {
protected:
    void SetUp() override {
        mbeeg::serial::setRealPortsEnabled(false);
        platform::setProfilePath(profile_);
    }
    void TearDown() override {
        mbeeg::serial::clearMemoryPorts();
        platform::setProfilePath(oldProfile_);
    }
    static int profileInt(const wchar_t* entry, int def) {
        return AfxGetApp()->GetProfileInt(RADIO_PROFILE_SECTION, entry, def);
    }
    static void store(const wchar_t* entry, int v) { AfxGetApp()->WriteProfileInt(RADIO_PROFILE_SECTION, entry, v); }

    platform::ScopedVirtualClock clock_;
    platform::ScriptedMessageBoxes boxes_;
    testfiles::TempDir tmp_{"link-dongle"};
    std::string profile_ = tmp_.str() + "/mbeeg.ini", oldProfile_ = platform::profilePath();
};

}  // namespace

TEST_F(DongleTest, SavedSettingsLoadClampedOnlyWhenEnabled) {
    store(L"RadioChnl", 7);  // not enabled: the defaults, whatever is stored
    {
        CConfigComRadiozq d;
        EXPECT_EQ(std::make_tuple(d.m_radioChnl, d.m_hostChnl, d.m_confirmedChnl, d.m_pollTime, d.m_baudRate),
                  std::make_tuple(20, 20, -1, 80, 115200u));
    }
    store(L"SaveRadioChnl", 1);
    // Stored -> loaded: clamped to 1..25 after taking the low byte.
    for (auto [stored, expected] : {std::pair{0, 1}, {40, 25}, {13, 13}, {257, 1}, {300, 25}}) {
        store(L"RadioChnl", stored);
        store(L"PollTime", 0x1FF);
        CConfigComRadiozq d;
        EXPECT_EQ(d.m_radioChnl + 100 * d.m_hostChnl, expected * 101) << stored;
        EXPECT_EQ(d.m_pollTime, 0xFF);
    }
    std::remove(profile_.c_str());  // missing entries read as 1
    store(L"SaveRadioChnl", 2);
    CConfigComRadiozq d;
    EXPECT_EQ(d.m_radioChnl + d.m_pollTime, 2);
}

TEST_F(DongleTest, DestructionSavesWhatTheDonglesToldLastOneWins) {
    CConfigComRadiozq().getSetInitParam(1);  // told nothing: the file is not even made
    EXPECT_FALSE(std::ifstream(profile_).good());
    {
        CConfigComRadiozq a, b, untold;
        a.m_radioChnl = 30;  // clamped when saved
        a.m_pollTime = 55;
        b.m_radioChnl = 9;
        b.m_pollTime = 66;
        a.m_chnlLearned = a.m_pollLearned = b.m_chnlLearned = b.m_pollLearned = true;
        untold.m_radioChnl = 3;
    }  // untold goes first (and writes nothing), then b, then a: a decides
    EXPECT_EQ(profileInt(L"RadioChnl", -1), 25);
    EXPECT_EQ(profileInt(L"PollTime", -1), 55);
    EXPECT_EQ(profileInt(L"SaveRadioChnl", -1), -1);  // never written
    EXPECT_NE(testfiles::slurp(profile_).find("XFaceZovAviComRadioSetting"), std::string::npos);

    CConfigComRadiozq c;
    c.m_radioChnl = 0;
    c.m_chnlLearned = true;
    EXPECT_EQ(c.getSetInitParam(1), 1);
    EXPECT_EQ(c.m_radioChnl, 1);  // the object itself is clamped too
    EXPECT_EQ(profileInt(L"RadioChnl", -1), 1);
}

TEST_F(DongleTest, ConnectAndCheckPaths) {
    auto dev = std::make_shared<ScriptedDevice>();
    ScopedMemoryPort com201(dev, 0);
    CConfigComRadiozq d;
    d.m_portName = L"ttyUSB0";  // no "COM" in the name: nothing is created
    EXPECT_EQ(d.connect_to_portName(nullptr), 0);
    EXPECT_EQ(d.m_statusText, "No Serial Port.  Is the Dongle plugin?");
    EXPECT_EQ(d.m_pSerialPort, nullptr);
    EXPECT_EQ(d.cleanSerialPort(), 0);

    // The port check still makes a port object, then tells the user (flag 0: silently).
    EXPECT_EQ(d.checkInitOpenSerialPort(1), 0);
    EXPECT_EQ(d.checkInitOpenSerialPort(0), 0);
    ASSERT_NE(d.m_pSerialPort, nullptr);
    EXPECT_FALSE(d.m_pSerialPort->isOpen());
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"No serial port. Is the dongle inserted into a PC USB?"});
    EXPECT_EQ(d.closeSerialPorts() + d.closeSerialPorts(), 2);
    EXPECT_EQ(d.m_pSerialPort, nullptr);

    d.m_portName = L"COM250";  // a port that does not exist: an object, not open
    EXPECT_EQ(d.connect_to_portName(nullptr), 0);
    EXPECT_EQ(d.m_statusText, "connect_to_portName: Port is not opened!");
    ASSERT_NE(d.m_pSerialPort, nullptr);
    d.closeSerialPorts();

    // The dongle's port opens; the check then succeeds without reopening.
    d.m_portName = L"COM201";
    EXPECT_EQ(d.connect_to_portName(nullptr), 1);
    EXPECT_EQ(d.m_statusText, "connect_to_portName: Port is open!");
    EXPECT_EQ(d.checkInitOpenSerialPort(1), 1);
    EXPECT_EQ(d.cleanSerialPort(), 1);
    EXPECT_FALSE(portIsFree(L"COM201"));
    d.closeSerialPorts();
    EXPECT_TRUE(portIsFree(L"COM201"));
    EXPECT_EQ(d.checkInitOpenSerialPort(1), 1);  // from scratch the check connects by itself
    EXPECT_TRUE(d.m_pSerialPort->isOpen());

    d.closeSerialPorts();
    dev->unplug();  // the object exists, the check fails with the message
    EXPECT_EQ(d.checkInitOpenSerialPort(1), 0);
    EXPECT_EQ(boxes_.texts().size(), 2u);
}

TEST_F(DongleTest, GainTrackerCreatedOnceByBoardTypeAndCopiesOwnTheirs) {
    CConfigComRadiozq fresh;
    EXPECT_EQ(fresh.getTrackGainMb(0, 6), nullptr);
    CTrackGainMbzq* t = fresh.getTrackGainMb(1, 7);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(fresh.getTrackGainMb(1, 6), t);  // unchanged, whatever type
    EXPECT_EQ(t->channelCount(), 16);
    EXPECT_EQ(fresh.cleanGains() + fresh.cleanGains(), 2);
    EXPECT_EQ(fresh.m_pTrackGain, nullptr);

    ScopedMemoryPort com201(std::make_shared<ScriptedDevice>(), 0);
    auto* d = new CConfigComRadiozq;
    d->m_portName = L"COM201";
    ASSERT_EQ(d->connect_to_portName(nullptr), 1);
    d->getTrackGainMb(1, 6)->apply_config("x1020000X");
    d->m_radioChnl = 11;
    d->m_eeg[2] = 3.5;
    d->m_statPackets = 17;
    {
        CConfigComRadiozq copy(*d);
        EXPECT_EQ(copy.m_pSerialPort, nullptr);
        ASSERT_NE(copy.m_pTrackGain, nullptr);
        EXPECT_NE(copy.m_pTrackGain, d->m_pTrackGain);
        EXPECT_EQ(copy.m_pTrackGain->get_gain_for_channel(0), 4);
        EXPECT_EQ(copy.m_radioChnl + copy.getSlot(3) + copy.m_statPackets.load(), 11 + 3.5 + 17);
        copy.m_pTrackGain->apply_config("x1000000X");
    }  // the copy's end leaves d's port and tracker alone
    EXPECT_EQ(d->m_pTrackGain->get_gain_for_channel(0), 4);
    EXPECT_FALSE(portIsFree(L"COM201"));

    // Assignment keeps the target's own port and replaces its tracker.
    CConfigComRadiozq other;
    other.getTrackGainMb(1, 7);
    other = *d;
    EXPECT_EQ(other.m_pSerialPort, nullptr);
    EXPECT_EQ(other.m_pTrackGain->channelCount(), 8);
    CConfigComRadiozq& self = *d;
    *d = self;
    EXPECT_NE(d->m_pSerialPort, nullptr);
    delete d;
    EXPECT_TRUE(portIsFree(L"COM201"));
}
