// The dongle's radio commands replayed from golden transcripts (tests/data/radio).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>

#include "link/ConfigComRadiozq.h"
#include "link/Discovery.h"
#include "platform/profile.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "serialport/Backend.h"
#include "tests/support/ScriptedDevice.h"

using namespace mbeeg::test;

namespace {

struct Radio {
    Radio() {
        mbeeg::serial::setRealPortsEnabled(false);
        mbeeg::serial::clearMemoryPorts();
        mbeeg::serial::registerMemoryPort(mbeeg::serial::memoryDongleDescription(0, "RADIO"), dev);
        dongle.m_portName = L"COM201";
        dongle.connect_to_portName(nullptr);
        dongle.m_statusText.Empty();
    }
    ~Radio() {
        dongle.closeSerialPorts();
        mbeeg::serial::clearMemoryPorts();
    }
    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes;
    std::shared_ptr<ScriptedDevice> dev = std::make_shared<ScriptedDevice>();
    CConfigComRadiozq dongle;
};

int arg(const Transcript& t, std::size_t i) { return t.op.size() > i ? std::stoi(t.op[i]) : 0; }

int run(const Transcript& t, CConfigComRadiozq& d) {
    const std::string& op = t.op.at(0);
    if (op == "get_channel") return d.get_channelDeviceHost(nullptr);
    if (op == "set_channel") return d.set_channelBoardDvc(nullptr, static_cast<std::uint8_t>(arg(t, 1)));
    if (op == "align") return d.alignDeviceHostChannels(nullptr, static_cast<std::uint8_t>(arg(t, 1)));
    if (op == "override") return d.set_channelHostOverrideDongle(nullptr, arg(t, 1));
    if (op == "get_poll") return d.getRadioPolltime(1);
    if (op == "set_poll") return d.setRadioPolltime(arg(t, 1), 1);
    if (op == "baud") return d.setHost2DriverBaudRate(nullptr, arg(t, 1));
    if (op == "status") return d.system_status(nullptr);
    if (op == "print_bytes") return d.print_bytes(nullptr);
    if (op == "scan") return d.scan_channels(nullptr);
    if (op == "realign") return d.reAlignDeviceHostChan(nullptr);
    if (op == "connect") {
        d.closeSerialPorts();
        return d.connectBleComCytonDaisyAuto();
    }
    if (op == "recover") return d.checkInitComBle2Board();
    if (op == "discover") {  // the search on this one port; status: its first finding
        d.closeSerialPorts();
        CStringArray ports;
        ports.Add(L"COM201");
        std::vector<CConfigComRadiozq*> found;
        discovery::Findings f;
        discovery::findBoards(ports, found, &f);
        d.m_statusText = f.notes.empty() ? "" : CStringA(f.notes[0]).GetString();
        for (CConfigComRadiozq* x : found) delete x;
        return static_cast<int>(found.size());
    }
    if (op == "select") {
        std::vector<CConfigComRadiozq> paired(t.op.size() - 1);
        std::vector<CConfigComRadiozq*> list;
        for (std::size_t i = 0; i < paired.size(); ++i) {
            paired[i].m_confirmedChnl = arg(t, i + 1);
            list.push_back(&paired[i]);
        }
        return d.selectRadioChan4HdB(list);
    }
    ADD_FAILURE() << t.where << ": no operation " << op;
    return -1;
}

// The dongle's fields the transcripts set and check, as text.
struct Field {
    std::function<std::string(CConfigComRadiozq&)> get;
    std::function<void(CConfigComRadiozq&, const std::string&)> set;
};
template <class T, class C>
Field number(T C::*m) {
    return {[m](auto& d) { return std::to_string(d.*m); }, [m](auto& d, auto& v) { d.*m = static_cast<T>(std::stoll(v)); }};
}
const std::map<std::string, Field>& fields() {
    static const std::map<std::string, Field> f = {
        {"radio", number(&CConfigComRadiozq::m_radioChnl)},   {"host", number(&CConfigComRadiozq::m_hostChnl)},
        {"confirmed", number(&CConfigComRadiozq::m_confirmedChnl)}, {"poll", number(&CConfigComRadiozq::m_pollTime)},
        {"baud", number(&CConfigComRadiozq::m_baudRate)},     {"baudIndex", number(&CConfigComRadiozq::m_baudIndex)},
        {"scanning", number(&CConfigComRadiozq::m_scanning)}, {"override", number(&CConfigComRadiozq::m_hostOverride)},
        {"status", {[](auto& d) { return d.m_statusText.str(); }, [](auto& d, auto& v) { d.m_statusText = v.c_str(); }}},
        {"last", {[](auto& d) { return d.m_lastReply.str(); }, nullptr}},
    };
    return f;
}

}  // namespace

TEST(RadioTranscripts, EachCommandSendsItsBytesWaitsAndJudgesTheReply) {
    const auto cases = loadTranscripts(MBEEG_SOURCE_DIR "/tests/data", "radio");
    ASSERT_GT(cases.size(), 50u);
    for (const Transcript& t : cases) {
        Radio r;
        for (const auto& [k, v] : t.set) {
            if (k == "boxes") r.boxes.answer(v == "yes" ? IDYES : IDNO);
            else if (k != "from") fields().at(k).set(r.dongle, v);
        }
        std::remove(platform::profilePath().c_str());
        r.dev->play(t.exchanges);
        const std::int64_t t0 = r.clock.get().nowUs();
        const int result = run(t, r.dongle);
        const std::int64_t elapsedMs = (r.clock.get().nowUs() - t0) / 1000;
        EXPECT_EQ(r.dev->scriptError(), "") << t.where;
        EXPECT_EQ(show(r.dev->written()), show(t.writes())) << t.where;
        EXPECT_EQ(result, t.num("result")) << t.where;
        if (t.has("elapsed")) {
            EXPECT_EQ(elapsedMs, t.num("elapsed")) << t.where << " (ms)";
        }
        const std::size_t boxes = t.has("boxes") ? static_cast<std::size_t>(t.num("boxes")) : 0;
        EXPECT_EQ(r.boxes.texts().size(), boxes) << t.where;
        if (t.has("box") && !r.boxes.texts().empty()) {
            const std::string& box = t.expect.at("box");
            EXPECT_EQ(r.boxes.texts().back(), std::wstring(box.begin(), box.end())) << t.where;
        }
        for (const auto& [k, v] : t.expect) {
            if (!fields().count(k)) continue;
            EXPECT_EQ(fields().at(k).get(r.dongle), v) << t.where << ": " << k;
        }
        if (t.has("saved")) {  // what the settings file holds once the dongle lets go
            r.dongle.getSetInitParam(1);
            std::ifstream in(platform::profilePath());
            std::string saved;
            for (std::string l; std::getline(in, l);)
                if (l.find('=') != std::string::npos) saved += (saved.empty() ? "" : " ") + l;
            EXPECT_EQ(saved, t.expect.at("saved")) << t.where;
        }
    }
}

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

TEST(RadioSilence, AScanOfASilentDongleTriesEveryChannelAndChoosingGivesUp) {
    Radio r;
    const std::int64_t t0 = r.clock.get().nowUs();
    EXPECT_EQ(r.dongle.scan_channels(nullptr), 0);
    std::string expected;
    for (int c = 1; c <= 25; ++c) expected += std::string("\xF0\x02", 2) + char(c) + std::string("\xF0\x00\xF0\x07", 4);
    EXPECT_EQ(show(r.dev->written()), show(expected));
    // Pauses 300 + 1000 + 100 ms and first-byte waits 300 + 200 + 200 ms per channel.
    EXPECT_EQ((r.clock.get().nowUs() - t0) / 1000, 25 * 2100);
    EXPECT_EQ(r.dongle.m_scanning, 0);

    r.dev->clearWritten();
    EXPECT_EQ(r.dongle.selectRadioChan4HdB({}), 0);
    EXPECT_EQ(r.dev->writeTexts().size(), 25u * 3);  // one override of three bytes per channel
    EXPECT_EQ(r.dongle.m_scanning, 0);
}

TEST(RadioSilence, NoPortOrNoDongleFailsWithItsMessage) {
    Radio r;
    r.dongle.closeSerialPorts();
    EXPECT_EQ(r.dongle.system_status(nullptr), 0);
    EXPECT_EQ(r.dongle.m_statusText, "COM201(Serial port) is not opened");
    CConfigComRadiozq lone;  // reading the poll time asks nobody about a missing port
    lone.m_portName = L"nothing";
    EXPECT_EQ(lone.getRadioPolltime(1), 0);
    EXPECT_EQ(lone.m_pSerialPort, nullptr);
    EXPECT_TRUE(r.boxes.texts().empty());

    CConfigComRadiozq fresh;
    EXPECT_EQ(fresh.connectBleComCytonDaisyAuto(), 0);
    EXPECT_EQ(r.boxes.texts(), std::vector<std::wstring>{L"No Cyton Dongles!? ,Insert a USB-Serial device!"});
    // Force opens the given port and takes its name only on success.
    fresh.m_portName = L"COM299";
    EXPECT_EQ(fresh.connectBleComCytonDaisyForce(L"COM250"), 0);
    EXPECT_EQ(fresh.m_portName, L"COM299");
    r.dev->play({{"\xF0\x07", {{0, "Success: System is Up$$$"}}},
                 {std::string("\xF0\x00", 2), {{0, "Success: Host and Device on Channel number: 3$$$"}}},
                 {"\xF0\x03", {{0, "Success: 0x\x10$$$"}}}});
    EXPECT_EQ(fresh.connectBleComCytonDaisyForce(L"COM201"), 1);
    EXPECT_EQ(fresh.m_portName, L"COM201");
    EXPECT_EQ(fresh.m_pollTime, 0x10);
    EXPECT_TRUE(r.dev->scriptDone()) << r.dev->scriptError() << show(r.dev->written());

    CConfigComRadiozq bad;
    bad.m_portName = L"tty";
    EXPECT_EQ(bad.checkInitComBle2Board(), 0);
    bad.m_portName = L"COM250";
    EXPECT_EQ(bad.checkInitComBle2Board(), 0);
    EXPECT_EQ(r.boxes.texts().back(), L"Open serial port failed!");
    EXPECT_EQ(r.boxes.texts()[1], L"No Serial Port {com} device!?");
}
