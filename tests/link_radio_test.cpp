// The dongle's radio commands against scripted replies: the bytes sent, the
// pauses taken, how each reply is judged and parsed, and the compound
// operations (scan, re-align, connect, recovery, channel choice).
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "serialport/Backend.h"
#include "tests/support/RadioScript.h"

using linktest::frame;

namespace {

using Frames = std::vector<std::string>;
const std::string kChan = "Success: Host and Device on Channel number: ";
const std::string kUp = "Success: System is Up$$$";
std::string override(int c) { return "Success: Host override - Channel number: " + std::to_string(c) + "$$$"; }
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
    // Queues the replies to the next commands, one each, and forgets the log.
    void replies(std::initializer_list<std::string> texts) {
        script->clearLog();
        for (const auto& t : texts) script->reply(t);
    }
    // Radio, host and confirmed channel.
    std::tuple<int, int, int> channels() const {
        return {dongle.m_radioChnl, dongle.m_hostChnl, dongle.m_confirmedChnl};
    }

    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes;
    std::shared_ptr<linktest::RadioScript> script;
    CConfigComRadiozq dongle;
    std::int64_t t0 = 0;
};

}  // namespace

TEST(RadioNumbers, ExtractedLikeAtoiBetweenMarkerAndEnd) {
    const std::pair<const char*, int> cases[] = {
        {"Success: ... number: 7$$$", 7}, {"number:\t -12abc$$$", -12},    {"number:+5$$$", 5},
        {"number: x5$$$", 0},             {"number: 7", 0} /* no end */,  {"$$$ number: 7", 0},
        {"no marker 7$$$", 0},            {"a number: 3$$$ number: 4$$$", 3},
        {"number: 99999999999999$$$", 2147483647},
    };
    for (auto [text, n] : cases) EXPECT_EQ(CConfigComRadio02Ble::extractNumber(text, "number:"), n) << text;
    EXPECT_EQ(CConfigComRadio02Ble::extractNumber("baud rate to 230400$$$", "baud rate to"), 230400);
}

namespace {
using Op = std::function<int(CConfigComRadiozq&)>;
struct Command {
    const char* name;
    Op op;
    std::string frame;
    int pauseMs, waitMs;  // before reading; for the first byte
};
const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"read channel", [](auto& d) { return d.get_channelDeviceHost(nullptr); }, frame(0x00), 1000, 200},
        {"set channel", [](auto& d) { return d.set_channelBoardDvc(nullptr, 12); }, frame(0x01, 12), 0, 600},
        {"align", [](auto& d) { return d.alignDeviceHostChannels(nullptr, 9); }, frame(0x01, 9), 1000, 1000},
        {"override", [](auto& d) { return d.set_channelHostOverrideDongle(nullptr, 14); }, frame(0x02, 14), 300, 300},
        {"read poll", [](auto& d) { return d.getRadioPolltime(1); }, frame(0x03), 100, 160},
        {"set poll", [](auto& d) { return d.setRadioPolltime(60, 1); }, frame(0x04, 60), 300, 160},
        {"baud 230400", [](auto& d) { return d.setHost2DriverBaudRate(nullptr, 1); }, frame(0x06), 300, 1000},
        {"baud 921600", [](auto& d) { return d.setHost2DriverBaudRate(nullptr, 2); }, frame(0x0A), 300, 1000},
        {"baud 115200", [](auto& d) { return d.setHost2DriverBaudRate(nullptr, 0); }, frame(0x05), 300, 1000},
        {"status", [](auto& d) { return d.system_status(nullptr); }, frame(0x07), 100, 200},
    };
    return list;
}
}  // namespace

TEST_F(RadioTest, EachCommandSendsItsFramePausesAndWaitsForTheFirstByte) {
    for (const Command& c : commands()) {
        SCOPED_TRACE(c.name);
        script->clearLog();
        script->reply("Success: ...$$$");
        mark();
        c.op(dongle);
        EXPECT_EQ(sent(), Frames{c.frame});
        EXPECT_GE(elapsedMs(), c.pauseMs);
        EXPECT_LT(elapsedMs(), c.pauseMs + 50);
        mark();
        EXPECT_EQ(c.op(dongle), 0);  // silence
        EXPECT_EQ(elapsedMs(), c.pauseMs + c.waitMs);
    }
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RadioTest, FailedCommandsSayWhyAndChangeNoSetting) {
    const char kNoBoard[] = "Found dongle! No connection to the board. Please turn on the board!\n";
    const char kReadError[] = "Radios_Config: Error reading from Serial/COM port";
    const char kTimeout[] = "Failure: Communications timeout - Device failed to poll Host$$$";
    struct Case {
        int command;  // index into commands()
        std::string reply, status;
    } cases[] = {
        {0, "", "Get radio channel error: empty"},
        {0, "Failure: Host on Channel number 5$$$",
         "Failure: Host on Channel number 5$$$\nFound dongle! Is the board turned on?!\n"},
        {0, "Garbled$$$", "Garbled$$$\nCOM201"},
        {1, "", kReadError},
        {1, kTimeout, kNoBoard},
        {1, "Something else$$$", "Something else$$$"},
        {2, "", ""},  // the reply is appended to the status text
        {2, "Failure: no$$$", "Failure: no$$$"},
        {3, "", "Radio channel override host without response, try differenct radio channel?"},
        {3, "Failure: whatever$$$", "Failure: whatever$$$"},
        {4, "", "Get Poll-time: return empty"},
        {4, "Failure: x$$$", "Failure: x$$$"},
        {5, "", "Set Radio poll-time: return empty"},
        {5, "Failure: no$$$", "Failure: no$$$"},
        {6, "", kReadError},
        {6, kTimeout, std::string(kTimeout) + "\n" + kNoBoard},
        {6, "Other$$$", "Other$$$"},
        {9, "", "Getting Ratio System Status error: return empty "},
        {9, "Failure: System is Down$$$", "Failure: System is Down$$$"},
    };
    dongle.m_radioChnl = 5;
    dongle.m_hostChnl = 6;
    dongle.m_pollTime = 50;
    dongle.m_baudRate = 230400;
    auto settings = [&] {
        return std::make_tuple(dongle.m_radioChnl, dongle.m_hostChnl, dongle.m_pollTime, dongle.m_baudRate,
                               dongle.m_hostOverride);
    };
    const auto before = settings();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(commands()[c.command].name) + ": " + c.reply);
        dongle.m_statusText.Empty();
        script->reply(c.reply);
        EXPECT_EQ(commands()[c.command].op(dongle), 0);
        EXPECT_EQ(dongle.m_statusText, c.status.c_str());
        EXPECT_EQ(dongle.m_lastReply, c.reply.c_str());
        EXPECT_EQ(settings(), before);
    }
    EXPECT_EQ(dongle.m_confirmedChnl, -1);  // a channel read starts by forgetting it
}

TEST_F(RadioTest, SuccessfulRepliesSetWhatTheyName) {
    // Reading: radio, host and confirmed channel, no range check.
    script->reply(kChan + "7$$$");
    EXPECT_EQ(dongle.get_channelDeviceHost(nullptr), 1);
    EXPECT_EQ(channels(), std::make_tuple(7, 7, 7));
    EXPECT_EQ(dongle.m_statusText, CStringA(kChan) + "7$$$");
    script->reply(kChan + "9");  // no "$$$": 0
    EXPECT_EQ(dongle.get_channelDeviceHost(nullptr), 1);
    EXPECT_EQ(dongle.m_radioChnl, 0);

    // The second form: the radio channel only, the reply appended with a note
    // when the number is out of range (still 1).
    dongle.m_statusText = "before|";
    script->reply(kChan + "12$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 12), 1);
    EXPECT_EQ(channels(), std::make_tuple(12, 0, 0));
    EXPECT_EQ(dongle.m_statusText, CStringA("before|") + kChan + "12$$$\n");
    dongle.m_statusText.Empty();
    script->reply(kChan + "30$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 13), 1);
    EXPECT_EQ(dongle.m_radioChnl, 12);
    EXPECT_EQ(dongle.m_statusText, CStringA(kChan) + "30$$$\nSet radio channel:30 is out of range (1-25)\n");
    script->reply(kChan);  // no "$$$": 0, out of range
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 13), 1);
    EXPECT_EQ(dongle.m_radioChnl, 12);

    // Align takes the channel it sent, whatever the reply names.
    dongle.m_statusText = "a|";
    script->reply("Success: Channel number: 3$$$");
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 9), 1);
    EXPECT_EQ(channels(), std::make_tuple(9, 9, 9));
    EXPECT_EQ(dongle.m_statusText, "a|Success: Channel number: 3$$$");

    // Override: the host channel only, and only in range.
    script->reply(override(14));
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 14), 1);
    EXPECT_EQ(dongle.m_hostChnl, 14);
    EXPECT_EQ(dongle.m_radioChnl, 9);
    script->reply(override(44));
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 15), 1);
    EXPECT_EQ(dongle.m_hostChnl, 14);

    // Poll time: read as the raw byte after "0x" (the result is always 0),
    // set as the low byte of the number.
    script->reply(std::string("Success: Poll time: 0x") + char(0x32) + "$$$");
    EXPECT_EQ(dongle.getRadioPolltime(1), 0);
    EXPECT_EQ(dongle.m_pollTime, 0x32);
    script->reply("Success: Poll time: 300$$$");
    EXPECT_EQ(dongle.setRadioPolltime(1, 1), 1);
    EXPECT_EQ(dongle.m_pollTime, 300 & 0xFF);

    // Baud: the index is clamped and kept; a rate outside 115200..921600 is
    // not taken, yet the command succeeded.
    script->reply("Success: Switch your baud rate to 230400$$$");
    EXPECT_EQ(dongle.setHost2DriverBaudRate(nullptr, 7), 1);
    EXPECT_EQ(dongle.m_baudRate, 230400u);
    EXPECT_EQ(dongle.m_baudIndex, 2u);
    EXPECT_EQ(sent().back(), frame(0x0A));
    script->reply("Success: Switch your baud rate to 57600$$$");
    EXPECT_EQ(dongle.setHost2DriverBaudRate(nullptr, -3), 1);
    EXPECT_EQ(dongle.m_baudRate, 230400u);
    EXPECT_EQ(dongle.m_baudIndex, 0u);
    EXPECT_EQ(sent().back(), frame(0x05));
}

TEST_F(RadioTest, RangeQuestionClampsOrStops) {
    // Yes: 0 becomes 1 and 26 becomes 25, for each of the three commands.
    for (int i = 0; i < 4; ++i) boxes.answer(IDYES);
    script->reply(kChan + "1$$$");
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 0), 1);
    script->reply("Success: Channel number: 25$$$");
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 26), 1);
    EXPECT_EQ(dongle.m_radioChnl, 25);
    script->reply(override(1));
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, -4), 1);
    script->reply(override(25));
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 300), 1);
    EXPECT_EQ(sent(), (Frames{frame(0x01, 1), frame(0x01, 25), frame(0x02, 1), frame(0x02, 25)}));
    ASSERT_EQ(boxes.texts().size(), 4u);
    for (const auto& t : boxes.texts()) EXPECT_EQ(t, kRangeQuestion);
    for (UINT type : boxes.types()) EXPECT_EQ(type & MB_TYPEMASK, MB_YESNO);

    // No: 0 and nothing is sent.
    script->clearLog();
    boxes.clear();
    for (int i = 0; i < 3; ++i) boxes.answer(IDNO);
    EXPECT_EQ(dongle.set_channelBoardDvc(nullptr, 26), 0);
    EXPECT_EQ(dongle.alignDeviceHostChannels(nullptr, 0), 0);
    EXPECT_EQ(dongle.set_channelHostOverrideDongle(nullptr, 0), 0);
    EXPECT_EQ(dongle.m_hostOverride, 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(boxes.texts().size(), 3u);
    EXPECT_EQ(dongle.m_radioChnl, 25);
}

TEST_F(RadioTest, PrintBytesJudgesWhatHasCome) {
    struct Case {
        std::string arrived;
        int scanning, result;
        std::string status;
    } cases[] = {
        {"", 0, 0, "Radios_Config: Error reading from Serial/COM port"},
        {"Failure: Communications timeout - Device failed to poll Host$$$", 0, 0,
         "Found dongle! No connection to the board. Please turn on the board!\n"},
        {"Failure: System is Down$$$", 0, 0,
         "Cyton dongle could not connect to the board. Perhaps they are on different channels? \n\nTry pressing "
         "Auto-Scan."},
        {kUp, 0, 1, "Success: Cyton and Dongle are paired. \n\nReady to Start Session!"},
        {"Success: Host and Device on Channel number: 3$$$", 0, 1,
         "Success: Cyton and Dongle are paired. \n\nReady to Start Session!"},
        {override(3), 1, 1, "Please press Auto-Scan one more time."},
        {override(3), 0, 0, override(3)},
        {"Failure: Communications timeout$$$", 0, 0, "Failure: Communications timeout$$$"},
    };
    for (const Case& c : cases) {
        script->send(c.arrived);
        dongle.m_scanning = c.scanning;
        EXPECT_EQ(dongle.print_bytes(nullptr), c.result) << c.arrived;
        EXPECT_EQ(dongle.m_statusText, c.status.c_str()) << c.arrived;
        EXPECT_EQ(dongle.m_lastReply, c.arrived.c_str());
    }
    EXPECT_TRUE(sent().empty());

    // Status without a port object: no port check, no message.
    dongle.closeSerialPorts();
    EXPECT_EQ(dongle.system_status(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText, "COM201(Serial port) is not opened");
    // Reading the poll time does not ask the user about a missing port.
    CConfigComRadiozq lone;
    lone.m_portName = L"nothing";
    EXPECT_EQ(lone.getRadioPolltime(1), 0);
    EXPECT_EQ(lone.m_pSerialPort, nullptr);
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RadioTest, FullScanOnVirtualTime) {
    // A silent dongle: every channel is tried, 35 s of pauses in all.
    EXPECT_EQ(dongle.scan_channels(nullptr), 0);
    Frames expected;
    for (int c = 1; c <= 25; ++c) expected.insert(expected.end(), {frame(0x02, c), frame(0x00), frame(0x07)});
    EXPECT_EQ(sent(), expected);
    // Pauses 300 + 1000 + 100 ms per channel, plus the first-byte waits of
    // the unanswered reads (300 + 200 + 200 ms).
    EXPECT_EQ(elapsedMs(), 25 * 1400 + 25 * 700);
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(dongle.m_statusText, "Getting Ratio System Status error: return empty ");
}

TEST_F(RadioTest, ScanStopsWhereTheBoardAnswers) {
    for (int c = 1; c <= 3; ++c)
        for (const std::string& r : {override(c), "Failure: Host on Channel number " + std::to_string(c) + "$$$",
                                     std::string("Failure: System is Down$$$")})
            script->reply(r);
    for (const std::string& r : {override(4), kChan + "4$$$", kUp}) script->reply(r);
    EXPECT_EQ(dongle.scan_channels(nullptr), 1);
    EXPECT_EQ(sent().size(), 12u);
    EXPECT_EQ(sent()[9], frame(0x02, 4));
    EXPECT_GE(elapsedMs(), 4 * 1400);
    EXPECT_LT(elapsedMs(), 4 * 1400 + 200);
    EXPECT_EQ(channels(), std::make_tuple(4, 4, 4));
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(dongle.m_statusText, kUp.c_str());

    // Answers to the first two commands alone do not end the scan.
    replies({override(1), kChan + "6$$$"});
    EXPECT_EQ(dongle.scan_channels(nullptr), 0);  // status silent: go on to the end
    EXPECT_EQ(sent().size(), 75u);
}

TEST_F(RadioTest, ReAlign) {
    replies({kChan + "8$$$", override(8), kChan + "8$$$", kUp});
    EXPECT_EQ(dongle.reAlignDeviceHostChan(nullptr), 1);
    EXPECT_EQ(sent(), (Frames{frame(0x00), frame(0x02, 8), frame(0x00), frame(0x07)}));
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(dongle.m_statusText, kUp.c_str());

    dongle.m_statusText.Empty();
    replies({"Failure: Host on Channel number 8$$$"});
    EXPECT_EQ(dongle.reAlignDeviceHostChan(nullptr), 0);
    EXPECT_EQ(dongle.m_statusText,
              "Failure: Host on Channel number 8$$$\nFound dongle! Is the board turned on?!\n"
              "\nCannot get channel to re-aligh!");
    EXPECT_EQ(dongle.m_scanning, 0);
}

TEST_F(RadioTest, ConnectAutoAndForce) {
    dongle.closeSerialPorts();
    replies({kUp, kChan + "17$$$", std::string("Success: 0x") + char(40) + "$$$"});
    EXPECT_EQ(dongle.connectBleComCytonDaisyAuto(), 1);
    EXPECT_EQ(sent(), (Frames{frame(0x07), frame(0x00), frame(0x03)}));
    EXPECT_EQ(dongle.m_radioChnl, 17);
    EXPECT_EQ(dongle.m_pollTime, 40);

    // The link is down: 0, nothing more asked.
    replies({"Failure: System is Down$$$"});
    EXPECT_EQ(dongle.connectBleComCytonDaisyAuto(), 0);
    EXPECT_EQ(sent(), Frames{frame(0x07)});

    CConfigComRadiozq fresh;
    EXPECT_EQ(fresh.connectBleComCytonDaisyAuto(), 0);
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"No Cyton Dongles!? ,Insert a USB-Serial device!"});

    // Force opens the given port and takes its name only on success.
    dongle.closeSerialPorts();
    fresh.m_portName = L"COM299";
    EXPECT_EQ(fresh.connectBleComCytonDaisyForce(L"COM250"), 0);
    EXPECT_EQ(fresh.m_portName, L"COM299");
    replies({kUp, kChan + "3$$$", "Success: 0x\x10$$$"});
    EXPECT_EQ(fresh.connectBleComCytonDaisyForce(L"COM201"), 1);
    EXPECT_EQ(fresh.m_portName, L"COM201");
    EXPECT_EQ(fresh.m_radioChnl, 3);
    EXPECT_EQ(fresh.m_pollTime, 0x10);
    EXPECT_EQ(sent().size(), 3u);
}

TEST_F(RadioTest, RecoveryOfALinkThatIsDown) {
    // Up already: nothing to do, result 0.
    replies({kUp});
    EXPECT_EQ(dongle.checkInitComBle2Board(), 0);
    EXPECT_EQ(sent(), Frames{frame(0x07)});

    dongle.m_baudRate = 230400;
    dongle.m_baudIndex = 1;
    replies({"Failure: System is Down$$$", "Success: Switch your baud rate to 115200$$$", kChan + "11$$$",
             override(11), "Success: 0x\x05$$$", kUp});
    EXPECT_EQ(dongle.checkInitComBle2Board(), 1);
    EXPECT_EQ(sent(), (Frames{frame(0x07), frame(0x05), frame(0x00), frame(0x02, 11), frame(0x03), frame(0x07)}));
    EXPECT_EQ(dongle.m_baudRate, 115200u);
    EXPECT_EQ(dongle.m_baudIndex, 0u);
    EXPECT_EQ(dongle.m_hostChnl, 11);

    // Names that lead nowhere.
    CConfigComRadiozq bad;
    bad.m_portName = L"tty";
    EXPECT_EQ(bad.checkInitComBle2Board(), 0);
    bad.m_portName = L"COM250";
    EXPECT_EQ(bad.checkInitComBle2Board(), 0);
    EXPECT_EQ(boxes.texts(), (std::vector<std::wstring>{L"No Serial Port {com} device!?", L"Open serial port failed!"}));
}

TEST_F(RadioTest, ChannelChoiceAvoidsPairedDongles) {
    CConfigComRadiozq a, b;
    a.m_confirmedChnl = 1;
    b.m_confirmedChnl = 3;
    // Paired channels 1 and 3 are never listened on. h = 2: the dongle does
    // not take the override; h = 4: the board answers; aligning on 2 fails,
    // 3 is skipped, 4 works.
    replies({"", override(4), kChan + "4$$$", kUp, "Failure: Communications timeout$$$",
             "Success: Channel number: 4$$$"});
    EXPECT_EQ(dongle.selectRadioChan4HdB({&a, &b}), 1);
    EXPECT_EQ(sent(), (Frames{frame(0x02, 2), frame(0x02, 4), frame(0x00), frame(0x07), frame(0x01, 2),
                              frame(0x01, 4)}));
    EXPECT_EQ(channels(), std::make_tuple(4, 4, 4));
    EXPECT_EQ(dongle.m_scanning, 0);
    EXPECT_EQ(a.m_confirmedChnl, 1);

    // Nobody paired: channel 1 first.
    replies({override(1), kChan + "1$$$", kUp, "Success: Channel number: 1$$$"});
    EXPECT_EQ(dongle.selectRadioChan4HdB({}), 1);
    EXPECT_EQ(sent().back(), frame(0x01, 1));

    // A board that never answers: 25 tries, 0.
    replies({});
    EXPECT_EQ(dongle.selectRadioChan4HdB({}), 0);
    EXPECT_EQ(sent().size(), 25u);
    EXPECT_EQ(dongle.m_scanning, 0);
}
