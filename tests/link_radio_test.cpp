// The dongle's radio commands against scripted replies: the bytes sent, the
// pauses taken, how each reply is judged and parsed, and the compound
// operations (scan, re-align, connect, recovery, channel choice).
#include <gtest/gtest.h>

#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "serialport/Backend.h"
#include "tests/support/RadioScript.h"

using linktest::frame;

namespace {

const char kChan[] = "Success: Host and Device on Channel number: ";
const wchar_t kRangeQuestion[] = L"Ble Radio Channel numbers can only be 1-25, Correct and Continue?";

class RadioTest : public testing::Test {
protected:
    void SetUp() override {
        mbeeg::serial::setRealPortsEnabled(false);
        mbeeg::serial::clearMemoryPorts();
        script = linktest::registerRadioScript(0);
        dongle.m_portName = L"COM201";
        ASSERT_EQ(dongle.connect_to_portName(nullptr), 1);
        t0 = now();
    }
    void TearDown() override {
        dongle.closeSerialPorts();
        mbeeg::serial::clearMemoryPorts();
    }
    std::int64_t now() { return clock.get().nowUs(); }
    std::int64_t elapsedMs() { return (now() - t0) / 1000; }
    void mark() { t0 = now(); }
    std::vector<std::string> sent() { return script->commandBytes(); }

    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes;
    std::shared_ptr<linktest::RadioScript> script;
    CConfigComRadiozq dongle;
    std::int64_t t0 = 0;
};

}  // namespace

TEST(RadioNumbers, ExtractedLikeAtoiBetweenMarkerAndEnd) {
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("Success: ... number: 7$$$", "number:"), 7);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("number:\t -12abc$$$", "number:"), -12);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("number:+5$$$", "number:"), 5);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("number: x5$$$", "number:"), 0);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("number: 7", "number:"), 0);  // no end marker
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("$$$ number: 7", "number:"), 0);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("no marker 7$$$", "number:"), 0);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("a number: 3$$$ number: 4$$$", "number:"), 3);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("baud rate to 230400$$$", "baud rate to"), 230400);
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("number: 99999999999999$$$", "number:"), 2147483647);
}

TEST_F(RadioTest, ReadChannel) {
    script->reply(std::string(kChan) + "7$$$");
    EXPECT_EQ(dongle.get_channelDeviceHost(nullptr), 1);
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x00)});
    EXPECT_GE(elapsedMs(), 1000);
    EXPECT_LT(elapsedMs(), 1100);
    EXPECT_EQ(dongle.m_radioChnl, 7);
    EXPECT_EQ(dongle.m_hostChnl, 7);
    EXPECT_EQ(dongle.m_confirmedChnl, 7);
    EXPECT_EQ(dongle.m_statusText, CStringA(kChan) + "7$$$");
    EXPECT_EQ(dongle.m_lastReply, dongle.m_statusText);

    // No "$$$": the number reads as 0, taken without a range check.
    script->reply(kChan + std::string("9"));
    EXPECT_EQ(dongle.get_channelDeviceHost(nullptr), 1);
    EXPECT_EQ(dongle.m_radioChnl, 0);
    EXPECT_EQ(dongle.m_confirmedChnl, 0);

    dongle.m_radioChnl = 5;
    script->reply("Failure: Host on Channel number 5$$$");
    EXPECT_EQ(dongle.get_channelDeviceHost(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText, "Failure: Host on Channel number 5$$$\nFound dongle! Is the board turned on?!\n");
    EXPECT_EQ(dongle.m_confirmedChnl, -1);
    EXPECT_EQ(dongle.m_radioChnl, 5);

    script->reply("Garbled$$$");
    EXPECT_EQ(dongle.get_channelDeviceHost(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText, "Garbled$$$\nCOM201");

    mark();
    EXPECT_EQ(dongle.get_channelDeviceHost(nullptr), 0);  // silence
    EXPECT_EQ(dongle.m_statusText, "Get radio channel error: empty");
    EXPECT_GE(elapsedMs(), 1200);  // pause plus the whole first-byte wait
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RadioTest, SetChannelSecondForm) {
    dongle.m_statusText = "before|";
    dongle.m_hostChnl = 3;
    dongle.m_confirmedChnl = 3;
    script->reply(std::string(kChan) + "12$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 12), 1);
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x01, 12)});
    EXPECT_LT(elapsedMs(), 100);  // no pause before reading
    EXPECT_EQ(dongle.m_radioChnl, 12);
    EXPECT_EQ(dongle.m_hostChnl, 3);
    EXPECT_EQ(dongle.m_confirmedChnl, 3);
    EXPECT_EQ(dongle.m_statusText, CStringA("before|") + kChan + "12$$$\n");

    // A number out of range changes nothing, a note is appended, still 1.
    dongle.m_statusText.Empty();
    script->reply(std::string(kChan) + "30$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 13), 1);
    EXPECT_EQ(dongle.m_radioChnl, 12);
    EXPECT_EQ(dongle.m_statusText, CStringA(kChan) + "30$$$\nSet radio channel:30 is out of range (1-25)\n");
    script->reply(std::string(kChan));  // no "$$$": 0, out of range
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 13), 1);
    EXPECT_EQ(dongle.m_radioChnl, 12);

    script->reply("Failure: Communications timeout - Device failed to poll Host$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 4), 0);
    EXPECT_EQ(dongle.m_statusText, "Found dongle! No connection to the board. Please turn on the board!\n");
    script->reply("Something else$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 4), 0);
    EXPECT_EQ(dongle.m_statusText, "Something else$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 4), 0);
    EXPECT_EQ(dongle.m_statusText, "Radios_Config: Error reading from Serial/COM port");
    EXPECT_EQ(dongle.m_radioChnl, 12);
}

TEST_F(RadioTest, RangeQuestionClampsOrStops) {
    // Yes: 0 becomes 1 and 26 becomes 25, for each of the three commands.
    boxes.answer(IDYES);
    boxes.answer(IDYES);
    boxes.answer(IDYES);
    boxes.answer(IDYES);
    script->reply(std::string(kChan) + "1$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 0), 1);
    script->reply("Success: Channel number: 25$$$");
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 26), 1);
    EXPECT_EQ(dongle.m_radioChnl, 25);
    script->reply("Success: Host override - Channel number: 1$$$");
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, -4), 1);
    script->reply("Success: Host override - Channel number: 25$$$");
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 300), 1);
    EXPECT_EQ(sent(), (std::vector<std::string>{frame(0x01, 1), frame(0x01, 25), frame(0x02, 1), frame(0x02, 25)}));
    ASSERT_EQ(boxes.texts().size(), 4u);
    for (const auto& t : boxes.texts()) EXPECT_EQ(t, kRangeQuestion);
    for (UINT type : boxes.types()) EXPECT_EQ(type & MB_TYPEMASK, MB_YESNO);

    // No: 0 and nothing is sent.
    script->clearLog();
    boxes.clear();
    boxes.answer(IDNO);
    boxes.answer(IDNO);
    boxes.answer(IDNO);
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 26), 0);
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 0), 0);
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 0), 0);
    EXPECT_EQ(dongle.m_hostOverride, 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(boxes.texts().size(), 3u);
    EXPECT_EQ(dongle.m_radioChnl, 25);

    // In range: no question.
    boxes.clear();
    script->reply("Success: Host override - Channel number: 25$$$");
    dongle.set_channelHostOverrideDongle(nullptr, 25);
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RadioTest, AlignAndOverride) {
    dongle.m_statusText = "a|";
    script->reply("Success: Channel number: 9$$$");
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 9), 1);
    EXPECT_GE(elapsedMs(), 1000);
    EXPECT_EQ(dongle.m_radioChnl, 9);
    EXPECT_EQ(dongle.m_hostChnl, 9);
    EXPECT_EQ(dongle.m_confirmedChnl, 9);
    EXPECT_EQ(dongle.m_statusText, "a|Success: Channel number: 9$$$");
    script->reply("Failure: no$$$");
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 10), 0);
    EXPECT_EQ(dongle.m_radioChnl, 9);
    EXPECT_EQ(dongle.m_statusText, "a|Success: Channel number: 9$$$Failure: no$$$");
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 10), 0);  // silence

    mark();
    script->clearLog();
    script->reply("Success: Host override - Channel number: 14$$$");
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 14), 1);
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x02, 14)});
    EXPECT_GE(elapsedMs(), 300);
    EXPECT_LT(elapsedMs(), 400);
    EXPECT_EQ(dongle.m_hostChnl, 14);
    EXPECT_EQ(dongle.m_radioChnl, 9);
    EXPECT_EQ(dongle.m_hostOverride, 0);
    script->reply("Success: Host override - Channel number: 44$$$");
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 15), 1);
    EXPECT_EQ(dongle.m_hostChnl, 14);
    script->reply("Failure: whatever$$$");
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 15), 0);
    EXPECT_EQ(dongle.m_statusText, "Failure: whatever$$$");
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 15), 0);
    EXPECT_EQ(dongle.m_statusText,
              "Radio channel override host without response, try differenct radio channel?");
    EXPECT_EQ(dongle.m_hostOverride, 0);
}

TEST_F(RadioTest, SystemStatusAndPrintBytes) {
    script->reply("Success: System is Up$$$");
    EXPECT_EQ(dongle.system_status(nullptr), 1);
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x07)});
    EXPECT_GE(elapsedMs(), 100);
    script->reply("Failure: System is Down$$$");
    EXPECT_EQ(dongle.system_status(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText, "Failure: System is Down$$$");
    EXPECT_EQ(dongle.system_status(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText, "Getting Ratio System Status error: return empty ");

    // print_bytes sends nothing; it judges what has come.
    script->clearLog();
    struct Case {
        const char* arrived;
        int scanning;
        int result;
        const char* status;
    } cases[] = {
        {"", 0, 0, "Radios_Config: Error reading from Serial/COM port"},
        {"Failure: Communications timeout - Device failed to poll Host$$$", 0, 0,
         "Found dongle! No connection to the board. Please turn on the board!\n"},
        {"Failure: System is Down$$$", 0, 0,
         "Cyton dongle could not connect to the board. Perhaps they are on different channels? \n\nTry pressing "
         "Auto-Scan."},
        {"Success: System is Up$$$", 0, 1, "Success: Cyton and Dongle are paired. \n\nReady to Start Session!"},
        {"Success: Host and Device on Channel number: 3$$$", 0, 1,
         "Success: Cyton and Dongle are paired. \n\nReady to Start Session!"},
        {"Success: Host override - Channel number: 3$$$", 1, 1, "Please press Auto-Scan one more time."},
        {"Success: Host override - Channel number: 3$$$", 0, 0, "Success: Host override - Channel number: 3$$$"},
        {"Failure: Communications timeout$$$", 0, 0, "Failure: Communications timeout$$$"},
    };
    for (const Case& c : cases) {
        script->send(c.arrived);
        dongle.m_scanning = c.scanning;
        EXPECT_EQ(dongle.print_bytes(nullptr), c.result) << c.arrived;
        EXPECT_EQ(dongle.m_statusText, c.status) << c.arrived;
        EXPECT_EQ(dongle.m_lastReply, c.arrived);
    }
    EXPECT_TRUE(sent().empty());

    // Without a port object: no port check, no message.
    dongle.closeSerialPorts();
    EXPECT_EQ(dongle.system_status(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText, "COM201(Serial port) is not opened");
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RadioTest, FullScanOnVirtualTime) {
    // A silent dongle: every channel is tried, 35 s of pauses in all.
    EXPECT_EQ(dongle.scan_channels(nullptr), 0);
    const auto cmds = sent();
    ASSERT_EQ(cmds.size(), 75u);
    for (int c = 1; c <= 25; ++c) {
        EXPECT_EQ(cmds[3 * (c - 1)], frame(0x02, c));
        EXPECT_EQ(cmds[3 * (c - 1) + 1], frame(0x00));
        EXPECT_EQ(cmds[3 * (c - 1) + 2], frame(0x07));
    }
    // Pauses 300 + 1000 + 100 ms per channel, plus the first-byte waits of
    // the unanswered reads (300 + 200 + 200 ms).
    EXPECT_GE(elapsedMs(), 25 * 1400 + 25 * 700);
    EXPECT_LT(elapsedMs(), 25 * 1400 + 25 * 700 + 1000);
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(dongle.m_statusText, "Getting Ratio System Status error: return empty ");
}

TEST_F(RadioTest, ScanStopsWhereTheBoardAnswers) {
    for (int c = 1; c <= 3; ++c) {
        script->reply("Success: Host override - Channel number: " + std::to_string(c) + "$$$");
        script->reply("Failure: Host on Channel number " + std::to_string(c) + "$$$");
        script->reply("Failure: System is Down$$$");
    }
    script->reply("Success: Host override - Channel number: 4$$$");
    script->reply(std::string(kChan) + "4$$$");
    script->reply("Success: System is Up$$$");
    EXPECT_EQ(dongle.scan_channels(nullptr), 1);
    EXPECT_EQ(sent().size(), 12u);
    EXPECT_EQ(sent()[9], frame(0x02, 4));
    EXPECT_GE(elapsedMs(), 4 * 1400);
    EXPECT_LT(elapsedMs(), 4 * 1400 + 200);
    EXPECT_EQ(dongle.m_radioChnl, 4);
    EXPECT_EQ(dongle.m_hostChnl, 4);
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(dongle.m_statusText, "Success: System is Up$$$");

    // Answers to the first two commands alone do not end the scan.
    script->clearLog();
    dongle.m_statusText.Empty();
    script->reply("Success: Host override - Channel number: 1$$$");
    script->reply(std::string(kChan) + "6$$$");
    EXPECT_EQ(dongle.scan_channels(nullptr), 0);  // status silent: go on to the end
    EXPECT_EQ(sent().size(), 75u);
}

TEST_F(RadioTest, ReAlign) {
    script->reply(std::string(kChan) + "8$$$");
    script->reply("Success: Host override - Channel number: 8$$$");
    script->reply(std::string(kChan) + "8$$$");
    script->reply("Success: System is Up$$$");
    EXPECT_EQ(dongle.reAlignDeviceHostChan(nullptr), 1);
    EXPECT_EQ(sent(), (std::vector<std::string>{frame(0x00), frame(0x02, 8), frame(0x00), frame(0x07)}));
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(dongle.m_statusText, "Success: System is Up$$$");

    dongle.m_statusText.Empty();
    script->reply("Failure: Host on Channel number 8$$$");
    EXPECT_EQ(dongle.reAlignDeviceHostChan(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText,
              "Failure: Host on Channel number 8$$$\nFound dongle! Is the board turned on?!\n"
              "\nCannot get channel to re-aligh!");
    EXPECT_EQ(dongle.m_scanning, 0);
}

TEST_F(RadioTest, PollTime) {
    script->reply(std::string("Success: Poll time: 0x") + char(0x32) + "$$$");
    EXPECT_EQ(dongle.getRadioPolltime(1), 0);  // always 0; the field tells
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x03)});
    EXPECT_GE(elapsedMs(), 100);
    EXPECT_EQ(dongle.m_pollTime, 0x32);
    script->reply("Failure: x$$$");
    dongle.getRadioPolltime(1);
    EXPECT_EQ(dongle.m_pollTime, 0x32);
    EXPECT_EQ(dongle.m_statusText, "Failure: x$$$");
    dongle.getRadioPolltime(1);
    EXPECT_EQ(dongle.m_statusText, "Get Poll-time: return empty");

    script->clearLog();
    mark();
    script->reply("Success: Poll time: 60$$$");
    EXPECT_EQ(dongle.setRadioPolltime(60, 1), 1);
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x04, 60)});
    EXPECT_GE(elapsedMs(), 300);
    EXPECT_EQ(dongle.m_pollTime, 60);
    script->reply("Success: Poll time: 300$$$");
    EXPECT_EQ(dongle.setRadioPolltime(1, 1), 1);
    EXPECT_EQ(dongle.m_pollTime, 300 & 0xFF);
    script->reply("Failure: no$$$");
    EXPECT_EQ(dongle.setRadioPolltime(61, 1), 0);
    EXPECT_EQ(dongle.m_pollTime, 300 & 0xFF);
    EXPECT_EQ(dongle.setRadioPolltime(61, 1), 0);
    EXPECT_EQ(dongle.m_statusText, "Set Radio poll-time: return empty");

    // getRadioPolltime does not ask the user about a missing port.
    CConfigComRadiozq lone;
    lone.m_portName = L"nothing";
    EXPECT_EQ(lone.getRadioPolltime(1), 0);
    EXPECT_EQ(lone.m_pSerialPort, nullptr);
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RadioTest, BaudRate) {
    script->reply("Success: Switch your baud rate to 230400$$$");
    EXPECT_EQ(dongle.setHost2DriverBaudRate(nullptr, 1), 1);
    EXPECT_EQ(dongle.m_baudRate, 230400u);
    EXPECT_EQ(dongle.m_baudIndex, 1u);
    EXPECT_GE(elapsedMs(), 300);
    script->reply("Success: Switch your baud rate to 57600$$$");
    EXPECT_EQ(dongle.setHost2DriverBaudRate(nullptr, 7), 1);
    EXPECT_EQ(dongle.m_baudRate, 230400u);
    EXPECT_EQ(dongle.m_baudIndex, 2u);
    script->reply("Failure: Communications timeout - Device failed to poll Host$$$");
    EXPECT_EQ(dongle.setHost2DriverBaudRate(nullptr, -3), 0);
    EXPECT_EQ(dongle.m_baudIndex, 0u);
    EXPECT_EQ(dongle.m_baudRate, 230400u);
    EXPECT_EQ(dongle.m_statusText,
              "Failure: Communications timeout - Device failed to poll Host$$$\nFound dongle! No connection to the "
              "board. Please turn on the board!\n");
    script->reply("Other$$$");
    EXPECT_EQ(dongle.setHost2DriverBaudRate(nullptr, 0), 0);
    EXPECT_EQ(dongle.m_statusText, "Other$$$");
    EXPECT_EQ(dongle.setHost2DriverBaudRate(nullptr, 0), 0);
    EXPECT_EQ(dongle.m_statusText, "Radios_Config: Error reading from Serial/COM port");
    EXPECT_EQ(sent(), (std::vector<std::string>{frame(0x06), frame(0x0A), frame(0x05), frame(0x05), frame(0x05)}));
}

TEST_F(RadioTest, ConnectAutoAndForce) {
    dongle.closeSerialPorts();
    script->reply("Success: System is Up$$$");
    script->reply(std::string(kChan) + "17$$$");
    script->reply(std::string("Success: 0x") + char(40) + "$$$");
    EXPECT_EQ(dongle.connectBleComCytonDaisyAuto(), 1);
    EXPECT_EQ(sent(), (std::vector<std::string>{frame(0x07), frame(0x00), frame(0x03)}));
    EXPECT_EQ(dongle.m_radioChnl, 17);
    EXPECT_EQ(dongle.m_pollTime, 40);

    // The link is down: 0, nothing more asked.
    script->clearLog();
    script->reply("Failure: System is Down$$$");
    EXPECT_EQ(dongle.connectBleComCytonDaisyAuto(), 0);
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x07)});

    CConfigComRadiozq fresh;
    EXPECT_EQ(fresh.connectBleComCytonDaisyAuto(), 0);
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], L"No Cyton Dongles!? ,Insert a USB-Serial device!");

    // Force opens the given port and takes its name only on success.
    dongle.closeSerialPorts();
    fresh.m_portName = L"COM299";
    EXPECT_EQ(fresh.connectBleComCytonDaisyForce(L"COM250"), 0);
    EXPECT_EQ(fresh.m_portName, L"COM299");
    script->clearLog();
    script->reply("Success: System is Up$$$");
    script->reply(std::string(kChan) + "3$$$");
    script->reply("Success: 0x\x10$$$");
    EXPECT_EQ(fresh.connectBleComCytonDaisyForce(L"COM201"), 1);
    EXPECT_EQ(fresh.m_portName, L"COM201");
    EXPECT_EQ(fresh.m_radioChnl, 3);
    EXPECT_EQ(fresh.m_pollTime, 0x10);
    EXPECT_EQ(sent().size(), 3u);
}

TEST_F(RadioTest, RecoveryOfALinkThatIsDown) {
    // Up already: nothing to do, result 0.
    script->reply("Success: System is Up$$$");
    EXPECT_EQ(dongle.checkInitComBle2Board(), 0);
    EXPECT_EQ(sent(), std::vector<std::string>{frame(0x07)});

    script->clearLog();
    dongle.m_baudRate = 230400;
    dongle.m_baudIndex = 1;
    script->reply("Failure: System is Down$$$");
    script->reply("Success: Switch your baud rate to 115200$$$");
    script->reply(std::string(kChan) + "11$$$");
    script->reply("Success: Host override - Channel number: 11$$$");
    script->reply("Success: 0x\x05$$$");
    script->reply("Success: System is Up$$$");
    EXPECT_EQ(dongle.checkInitComBle2Board(), 1);
    EXPECT_EQ(sent(), (std::vector<std::string>{frame(0x07), frame(0x05), frame(0x00), frame(0x02, 11),
                                                frame(0x03), frame(0x07)}));
    EXPECT_EQ(dongle.m_baudRate, 115200u);
    EXPECT_EQ(dongle.m_baudIndex, 0u);
    EXPECT_EQ(dongle.m_hostChnl, 11);

    // Names that lead nowhere.
    CConfigComRadiozq bad;
    bad.m_portName = L"tty";
    EXPECT_EQ(bad.checkInitComBle2Board(), 0);
    bad.m_portName = L"COM250";
    EXPECT_EQ(bad.checkInitComBle2Board(), 0);
    ASSERT_EQ(boxes.texts().size(), 2u);
    EXPECT_EQ(boxes.texts()[0], L"No Serial Port {com} device!?");
    EXPECT_EQ(boxes.texts()[1], L"Open serial port failed!");
}

TEST_F(RadioTest, ChannelChoiceAvoidsPairedDongles) {
    CConfigComRadiozq a, b;
    a.m_confirmedChnl = 1;
    b.m_confirmedChnl = 3;
    // Paired channels 1 and 3 are never listened on. h = 2: the dongle does
    // not take the override; h = 4: the board answers.
    script->reply("");
    script->reply("Success: Host override - Channel number: 4$$$");
    script->reply(std::string(kChan) + "4$$$");
    script->reply("Success: System is Up$$$");
    script->reply("Failure: Communications timeout$$$");  // align on 2 fails
    script->reply("Success: Channel number: 4$$$");      // 3 is skipped, 4 works
    EXPECT_EQ(dongle.selectRadioChan4HdB({&a, &b}), 1);
    EXPECT_EQ(sent(), (std::vector<std::string>{frame(0x02, 2), frame(0x02, 4), frame(0x00), frame(0x07),
                                                frame(0x01, 2), frame(0x01, 4)}));
    EXPECT_EQ(dongle.m_radioChnl, 4);
    EXPECT_EQ(dongle.m_confirmedChnl, 4);
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(a.m_confirmedChnl, 1);

    // Nobody paired: channel 1 first.
    script->clearLog();
    script->reply("Success: Host override - Channel number: 1$$$");
    script->reply(std::string(kChan) + "1$$$");
    script->reply("Success: System is Up$$$");
    script->reply("Success: Channel number: 1$$$");
    EXPECT_EQ(dongle.selectRadioChan4HdB({}), 1);
    EXPECT_EQ(sent().back(), frame(0x01, 1));

    // A board that never answers: 25 tries, 0.
    script->clearLog();
    EXPECT_EQ(dongle.selectRadioChan4HdB({}), 0);
    EXPECT_EQ(sent().size(), 25u);
    EXPECT_EQ(dongle.m_scanning, 0);
}
