// Board commands replayed from golden transcripts (tests/data/board), and across boards.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/AcqFramework.h"
#include "platform/afxwin.h"
#include "tests/support/DriverRig.h"

using drivertest::Rig;
using mbeeg::test::show;
using mbeeg::test::Transcript;
using Texts = std::vector<std::string>;

namespace {

bool statusHas(const CString& line) {
    for (const CString& l : acqhost::statusLines())
        if (l == line) return true;
    return false;
}

std::string run(const Transcript& t, Rig& rig) {
    auto a = [&](std::size_t i, int def = 1) { return t.op.size() > i ? std::stoi(t.op[i]) : def; };
    auto& d = rig.drv;
    const std::string& op = t.op.at(0);
    if (op == "query") return d.queryDeviceSettings(a(1)).str();
    if (op == "report") return d.getAllChnlSetReport(1).str();
    if (op == "defaults") return d.getDefault4AllChnl(1).str();
    if (op == "reset_channels") return d.resetAllChnl2default(1).str();
    if (op == "version") return d.getOpenBciFirmwareVersion(1).str();
    if (op == "reset_board") return d.resetBoard(0).str();
    if (op == "daisy_attach") return d.daisyModuleAttach(1).str();
    if (op == "daisy_remove") return d.daisyModuleRemove(1).str();
    if (op == "sd_start") return d.startSDcardRecord(static_cast<std::uint8_t>(t.op.at(1)[0]), 1).str();
    if (op == "sd_stop") return d.stopSDcardRecord(1).str();
    if (op == "timestamp") return d.turnTimeStamp(a(1), 1).str();
    if (op == "set_mode") return d.setBoardMode4AuxByte(static_cast<std::uint8_t>('0' + a(1)), 1).str();
    if (op == "get_mode") return d.getBoardMode4AuxByte(1).str();
    if (op == "test_signal") return d.testSignalCtrlCmd(a(1), 1).str();
    if (op == "channel_on") return d.turnOnOffChnl(static_cast<unsigned>(a(1)), 1, 1).str();
    if (op == "channel_off") return d.turnOnOffChnl(static_cast<unsigned>(a(1)), 0, 1).str();
    if (op == "channel_set")
        return d.sendChannelCommands(static_cast<unsigned>(a(1)), a(2), static_cast<unsigned>(a(3)),
                                         static_cast<unsigned>(a(4)), a(5) != 0, a(6) != 0, a(7) != 0, a(8)).str();
    if (op == "impedance") return d.impedanceMeasureStart(a(1), a(2), 1).str();
    if (op == "impedance_stop") return d.impedanceMeasureStop(a(1), 1).str();
    if (op == "probe") return std::to_string(d.m_dongles[0]->findCheckOneComDevice(d.m_dongles[0]->m_pSerialPort));
    ADD_FAILURE() << t.where << ": no operation " << op;
    return "";
}
}  // namespace

TEST(BoardTranscripts, EachCommandWritesItsBytesAndReportsWhatCameInTime) {
    const auto cases = mbeeg::test::loadTranscripts(MBEEG_SOURCE_DIR "/tests/data", "board");
    ASSERT_GT(cases.size(), 45u);
    for (const Transcript& t : cases) {
        platform::ScopedVirtualClock vc;
        platform::ScriptedMessageBoxes boxes;
        if (t.set.count("boxes")) boxes.answer(t.set.at("boxes") == "yes" ? IDYES : IDNO);
        Rig rig(1);
        rig.board(0).play(t.exchanges);
        if (t.set.count("unplugged")) rig.board(0).unplug();
        if (t.set.count("unplugAfterWrites")) rig.board(0).unplugAfterWrites(std::stoi(t.set.at("unplugAfterWrites")));
        const std::string result = run(t, rig);
        EXPECT_EQ(rig.board(0).scriptError(), "") << t.where;
        EXPECT_EQ(show(rig.board(0).written()), show(t.writes())) << t.where;
        EXPECT_EQ(show(result), show(t.expect.count("ok") ? t.expect.at("ok") : t.expect.at("result"))) << t.where;
        const std::size_t shown = t.expect.count("boxes") ? static_cast<std::size_t>(t.num("boxes")) : 0;
        EXPECT_EQ(boxes.texts().size(), shown) << t.where;
    }
}

TEST(BoardCommands, QueryReportsEachPortAndStopsAtTheFirstFailedWrite) {
    platform::ScopedVirtualClock vc;
    Rig rig(3);
    rig.board(1).on("?", "regs-B$$$");
    acqhost::clearStatusLines();
    const std::string h = "\n QueryDeviceRegisterSettings \n";
    EXPECT_EQ(rig.drv.queryDeviceSettings(1).str(), h + h + "regs-B$$$" + h);
    for (const wchar_t* line : {L"COM201", L"COM202", L"COM203"}) EXPECT_TRUE(statusHas(line)) << line;
    EXPECT_TRUE(statusHas(CString(CStringA((h + "regs-B$$$").c_str()))));

    // A failed write ends the whole query with its message alone.
    rig.clearLogs();
    rig.board(1).setUnplugged(true);
    EXPECT_EQ(rig.drv.queryDeviceSettings(1).str(), "Send query failed!");
    EXPECT_EQ(rig.board(0).writeTexts(), Texts{"?"});
    EXPECT_TRUE(rig.board(2).writeTexts().empty());
}

TEST(BoardCommands, UnservedLayoutOrClosedPortsSkipBoardsButSoftResetGoesOut) {
    platform::ScopedVirtualClock vc;
    Rig rig(2, 5);
    EXPECT_EQ(rig.drv.queryDeviceSettings(1).str(), "");
    EXPECT_TRUE(rig.board(0).writeTexts().empty());
    rig.board(0).on("v", "A$$$");
    rig.board(1).on("v", "B$$$");
    EXPECT_EQ(rig.drv.resetBoard(0).str(), "A$$$B$$$");

    rig.setLinkType(LINK_TYPE_DAISY16);
    rig.clearLogs();
    rig.drv.m_dongles[0]->m_pSerialPort->closeCom(0);
    rig.board(1).on("?", "B");
    EXPECT_EQ(rig.drv.queryDeviceSettings(1).str(), "\n QueryDeviceRegisterSettings \nB");
    EXPECT_EQ(rig.drv.m_chnPerBoard, 16);
    EXPECT_TRUE(rig.board(0).writeTexts().empty());

    Rig none(0);
    EXPECT_EQ(none.drv.queryDeviceSettings(1).str(), "");
}

TEST(BoardCommands, ChannelsReachTheirBoardByLayout) {
    platform::ScopedVirtualClock vc;
    platform::ScriptedMessageBoxes boxes;
    Rig rig(2);
    EXPECT_EQ(rig.drv.turnOnOffChnl(9, 1, 1).str(), "OK");
    EXPECT_EQ(rig.board(1).writeTexts(), (Texts{"**", "@", "**"}));
    EXPECT_EQ(rig.drv.turnOnOffChnl(9, 2, 0).str(), "");  // not 1 means off
    EXPECT_EQ(rig.board(1).writeTexts().back(), "2");
    rig.drv.sendChannelCommands(11, 0, 6, 0, true, true, false, 0);
    EXPECT_EQ(rig.board(1).writeTexts().back(), "x4060110X");
    EXPECT_TRUE(rig.board(0).writeTexts().empty());
    rig.drv.testSignalCtrlCmd(5, 0);  // the test signal goes to the first board only
    EXPECT_EQ(rig.board(0).writeTexts(), Texts{"]"});

    rig.setLinkType(LINK_TYPE_DAISY16);
    rig.clearLogs();
    rig.drv.turnOnOffChnl(13, 1, 0);
    rig.drv.turnOnOffChnl(31, 0, 0);
    rig.drv.sendChannelCommands(11, 0, 6, 0, true, true, false, 0);
    EXPECT_EQ(rig.board(0).writeTexts(), (Texts{"**", "Y", "**", "xR060110X"}));
    EXPECT_EQ(rig.board(1).writeTexts(), Texts{"i"});

    // While the stream reader owns the input, nothing is read.
    rig.board(0).on("x4060110X", "ok$$$");
    rig.drv.m_connState = 4;
    EXPECT_EQ(rig.drv.sendChannelCommands(3, 0, 6, 0, true, true, false, 1).str(), "");
    rig.drv.m_connState = 3;
    EXPECT_EQ(rig.drv.testSignalCtrlCmd(2, 1).str(), "");
    rig.drv.m_connState = 0;

    // Channels beyond any layout: nothing sent; beyond 200 on Cytons a notice.
    rig.clearLogs();
    EXPECT_EQ(rig.drv.turnOnOffChnl(450, 1, 1).str(), " ");
    EXPECT_EQ(rig.drv.sendChannelCommands(400, 0, 6, 0, true, true, false, 1).str(), "");
    EXPECT_EQ(rig.drv.testSignalCtrlCmd(6, 1).str() + rig.drv.testSignalCtrlCmd(-1, 1).str(), "");
    EXPECT_TRUE(boxes.texts().empty());
    rig.drv.getDevice(1)->m_linkType = LINK_TYPE_CYTON8;
    EXPECT_EQ(rig.drv.turnOnOffChnl(250, 1, 1).str(), " ");
    EXPECT_EQ(rig.drv.sendChannelCommands(200, 0, 6, 0, true, true, false, 1).str(), "");
    EXPECT_EQ(boxes.texts().size(), 2u);
    EXPECT_EQ(rig.board(0).received() + rig.board(1).received(), "");

    rig.board(1).setUnplugged(true);
    EXPECT_EQ(rig.drv.turnOnOffChnl(20, 1, 1).str(), "Er");
    Rig none(0);
    EXPECT_EQ(none.drv.turnOnOffChnl(3, 1, 1).str(), " ");
    EXPECT_EQ(boxes.texts().back(), L"Find or select port-device first!");
    EXPECT_EQ(none.drv.sendChannelCommands(3, 0, 6, 0, true, true, false, 1).str(), "");
}

TEST(BoardCommands, ConfigureChannelsSendsEveryRecordWithSettings) {
    platform::ScopedVirtualClock vc;
    Rig rig(2);
    std::vector<std::unique_ptr<CAcqChnlGeomzq>> owned;
    ChnGeomList list;
    auto addEeg = [&] {
        owned.push_back(std::make_unique<CAcqChnlGeomzq>(L"E", GEOM_KIND_EEG, 1));
        auto* p = new OPENBCIPARAMV1;
        owned.back()->setHdwrParam(p, OPENBCIPARAM_BLOCK_KIND, sizeof(OPENBCIPARAMV1),
                                   [](void* b) { delete static_cast<OPENBCIPARAMV1*>(b); });
        list.Add(owned.back().get());
        return p;
    };
    addEeg();                          // defaults: gain 6, "Normal", bias, SRB2
    OPENBCIPARAMV1* c1 = addEeg();     // powered down, gain 12, SRB1
    c1->powerDown = 1;
    c1->gain = 12;
    c1->srb1 = 1;
    OPENBCIPARAMV1* c2 = addEeg();     // input type by name, any case; the code field is not read
    c2->inputTypeText = "test SIGNALS";
    c2->inputTypeCode = 1;
    c2->gain = 24;
    c2->includeBias = 0;
    OPENBCIPARAMV1* c3 = addEeg();     // nothing given: gain 24, "Normal"
    c3->gain = 0;
    c3->inputTypeText = "";
    for (int i = 4; i < 9; ++i) addEeg()->gain = 1;  // channel 8 lies on board 1
    owned.push_back(std::make_unique<CAcqChnlGeomzq>(L"AccLft", GEOM_KIND_ACCEL, 1));
    list.Add(owned.back().get());
    list.Add(nullptr);

    rig.board(0).on("x1030110X", "ok0");
    rig.board(0).setReplyDelayUs(170000);
    const std::string r = rig.drv.configureChannels(list, 1).str();
    Texts b0 = rig.board(0).writeTexts();
    ASSERT_GE(b0.size(), 13u);
    EXPECT_EQ((Texts(b0.begin(), b0.begin() + 11)),
              (Texts{"**", "!", "**", "x1030110X", "x2150001X", "**", "#", "**", "x3065010X", "**", "$"}));
    EXPECT_EQ(b0[12], "x4060110X");
    EXPECT_EQ(rig.board(1).writeTexts(), (Texts{"**", "!", "**", "x1000110X"}));
    EXPECT_NE(r.find("\n send command:x1030110X ->chnl:0\nok0"), std::string::npos);
    EXPECT_NE(r.find("->chnl:8\n"), std::string::npos);
}
