// Board command transactions against command boards behind memory ports.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/AcqFramework.h"
#include "platform/afxwin.h"
#include "tests/support/DriverRig.h"

using drivertest::Rig;
using Texts = std::vector<std::string>;

namespace {
std::string str(const CStringA& s) { return s.str(); }

bool statusHas(const CString& line) {
    for (const CString& l : acqhost::statusLines())
        if (l == line) return true;
    return false;
}

// Geometry records with settings blocks, as the device would hang them.
struct Geoms {
    ~Geoms() {
        for (auto* g : owned) delete g;
    }
    OPENBCIPARAMV1* addEeg() {
        auto* g = new CAcqChnlGeomzq(L"E", GEOM_KIND_EEG, 1);
        auto* p = new OPENBCIPARAMV1;
        g->setHdwrParam(p, OPENBCIPARAM_BLOCK_KIND, sizeof(OPENBCIPARAMV1),
                        [](void* b) { delete static_cast<OPENBCIPARAMV1*>(b); });
        owned.push_back(g);
        list.Add(g);
        return p;
    }
    void addPlain() {
        auto* g = new CAcqChnlGeomzq(L"AccLft", GEOM_KIND_ACCEL, 1);
        owned.push_back(g);
        list.Add(g);
    }
    std::vector<CAcqChnlGeomzq*> owned;
    ChnGeomList list;
};
}  // namespace

TEST(BoardCommands, QueryReportsEachPortAndStopsAtTheFirstFailedWrite) {
    platform::ScopedVirtualClock vc;
    Rig rig(3);
    rig.board(1).on("?", "regs-B$$$");
    acqhost::clearStatusLines();
    const std::string h = "\n QueryDeviceRegisterSettings \n";
    EXPECT_EQ(str(rig.drv.queryDeviceSettings(1)), h + h + "regs-B$$$" + h);
    for (const wchar_t* line : {L"COM201", L"COM202", L"COM203"}) EXPECT_TRUE(statusHas(line)) << line;
    EXPECT_TRUE(statusHas(CString(CStringA((h + "regs-B$$$").c_str()))));

    // Without the reply flag the command still goes out, nothing is read.
    rig.clearLogs();
    EXPECT_EQ(str(rig.drv.queryDeviceSettings(0)), "");
    EXPECT_EQ(rig.board(2).writeTexts(), Texts{"?"});

    // A failed write ends the whole query with its message alone.
    rig.clearLogs();
    rig.board(1).setUnplugged(true);
    EXPECT_EQ(str(rig.drv.queryDeviceSettings(1)), "Send query failed!");
    EXPECT_EQ(rig.board(0).writeTexts(), Texts{"?"});
    EXPECT_TRUE(rig.board(2).writeTexts().empty());
}

TEST(BoardCommands, EachQueryCommandItsBytesHeaderAndFailure) {
    platform::ScopedVirtualClock vc;
    const std::string defaults = "\n GetDefaultSettings for all channels\n";
    struct Case {
        const char* name;
        std::function<CStringA(CDriveOpnBciMutiBoard02Setup&, int)> op;
        Texts bytes;
        std::string header;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {"queryDeviceSettings", [](auto& d, int f) { return d.queryDeviceSettings(f); }, {"?"},
         "\n QueryDeviceRegisterSettings \n", "Send query failed!"},
        {"resetAllChnl2default", [](auto& d, int f) { return d.resetAllChnl2default(f); }, {"d"},
         "\n QueryDeviceSettings\n", "Send query failed!"},
        {"getAllChnlSetReport", [](auto& d, int f) { return d.getAllChnlSetReport(f); }, {"D"},
         "\n QueryChannelDefaultSettings \n", "Send query failed!"},
        {"getDefault4AllChnl", [](auto& d, int f) { return d.getDefault4AllChnl(f); }, {"D"}, defaults,
         "Send query failed!"},
        {"startSDcardRecord", [](auto& d, int f) { return d.startSDcardRecord('G', f); }, {"G"}, defaults,
         "Send query failed!"},
        {"stopSDcardRecord", [](auto& d, int f) { return d.stopSDcardRecord(f); }, {"j"}, defaults,
         "Send query failed!"},
        {"daisyModuleRemove", [](auto& d, int f) { return d.daisyModuleRemove(f); }, {"c"}, defaults,
         "Reset OpenBci board failed!"},
        {"daisyModuleAttach", [](auto& d, int f) { return d.daisyModuleAttach(f); }, {"C"}, defaults,
         "Reset OpenBci board failed!"},
        {"turnTimeStamp on", [](auto& d, int f) { return d.turnTimeStamp(1, f); }, {"\xF0", "<"}, defaults,
         "Send new command failed!"},
        {"turnTimeStamp off", [](auto& d, int f) { return d.turnTimeStamp(0, f); }, {"\xF0", ">"}, defaults,
         "Send new command failed!"},
        {"setBoardMode4AuxByte", [](auto& d, int f) { return d.setBoardMode4AuxByte(3, f); }, {"/", "\x03"},
         defaults, ""},
        {"getBoardMode4AuxByte", [](auto& d, int f) { return d.getBoardMode4AuxByte(f); }, {"//"}, defaults,
         "Send command to get Mode4AuxByte failed!"},
        {"getOpenBciFirmwareVersion", [](auto& d, int f) { return d.getOpenBciFirmwareVersion(f); }, {"V"},
         defaults, "Get firmware version failed!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(2);
        rig.board(0).on(c.bytes.back(), "ans0");
        rig.board(1).on(c.bytes.back(), "ans1");
        EXPECT_EQ(str(c.op(rig.drv, 1)), c.header + "ans0" + c.header + "ans1");
        EXPECT_EQ(rig.board(0).writeTexts(), c.bytes);
        EXPECT_EQ(rig.board(1).writeTexts(), c.bytes);

        rig.board(0).setUnplugged(true);
        EXPECT_EQ(str(c.op(rig.drv, 1)), c.failure);
    }
}

TEST(BoardCommands, TwoWriteCommandsNameTheFailingWrite) {
    platform::ScopedVirtualClock vc;
    {
        Rig rig(1);
        rig.board(0).unplugAfterWrites(1);
        EXPECT_EQ(str(rig.drv.turnTimeStamp(1, 1)), "Turn-On time stamping failed!");
    }
    {
        Rig rig(1);
        rig.board(0).unplugAfterWrites(1);
        EXPECT_EQ(str(rig.drv.turnTimeStamp(0, 1)), "Turn-Off time stampingfailed!");
    }
    {
        Rig rig(2);
        rig.board(0).on("\x02", "mode");
        rig.board(1).unplugAfterWrites(1);
        EXPECT_EQ(str(rig.drv.setBoardMode4AuxByte(2, 1)), "");
        EXPECT_EQ(rig.board(1).writeTexts(), Texts{"/"});
    }
}

TEST(BoardCommands, UnservedLayoutOrClosedPortsSkipBoards) {
    platform::ScopedVirtualClock vc;
    Rig rig(2, 5);
    EXPECT_EQ(str(rig.drv.queryDeviceSettings(1)), "");
    EXPECT_TRUE(rig.board(0).writeTexts().empty());

    rig.setLinkType(LINK_TYPE_DAISY16);
    rig.drv.m_dongles[0]->m_pSerialPort->closeCom(0);
    rig.board(1).on("?", "B");
    EXPECT_EQ(str(rig.drv.queryDeviceSettings(1)), "\n QueryDeviceRegisterSettings \nB");
    EXPECT_EQ(rig.drv.m_chnPerBoard, 16);
    EXPECT_TRUE(rig.board(0).writeTexts().empty());

    Rig none(0);
    EXPECT_EQ(str(none.drv.queryDeviceSettings(1)), "");
}

TEST(BoardCommands, SoftResetGoesOutWhateverTheLayout) {
    platform::ScopedVirtualClock vc;
    Rig rig(2, 4);
    rig.board(0).on("v", "OpenBCI V3 0x3E $$$");
    rig.board(1).on("v", "OpenBCI V3 B $$$");
    EXPECT_EQ(str(rig.drv.resetAllChnl2default(0)), "");
    EXPECT_EQ(str(rig.drv.resetBoard(0)), "OpenBCI V3 0x3E $$$OpenBCI V3 B $$$");
    EXPECT_EQ(rig.board(1).writeTexts(), (Texts{"d", "v"}));
}

TEST(BoardCommands, TurnChannelOnAndOff) {
    platform::ScopedVirtualClock vc;
    platform::ScriptedMessageBoxes boxes;
    Rig rig(2);
    EXPECT_EQ(str(rig.drv.turnOnOffChnl(9, 1, 1)), "OK");
    EXPECT_EQ(rig.board(1).writeTexts(), (Texts{"**", "@", "**"}));
    EXPECT_TRUE(rig.board(0).writeTexts().empty());
    rig.clearLogs();
    EXPECT_EQ(str(rig.drv.turnOnOffChnl(9, 0, 1)), "OK");
    EXPECT_EQ(rig.board(1).writeTexts(), Texts{"2"});
    EXPECT_EQ(str(rig.drv.turnOnOffChnl(9, 2, 0)), "");  // not 1 means off

    rig.setLinkType(LINK_TYPE_DAISY16);
    rig.clearLogs();
    rig.drv.turnOnOffChnl(13, 1, 0);
    rig.drv.turnOnOffChnl(31, 0, 0);
    EXPECT_EQ(rig.board(0).writeTexts(), (Texts{"**", "Y", "**"}));
    EXPECT_EQ(rig.board(1).writeTexts(), Texts{"i"});

    rig.clearLogs();
    EXPECT_EQ(str(rig.drv.turnOnOffChnl(450, 1, 1)), " ");
    EXPECT_TRUE(boxes.texts().empty());
    rig.drv.getDevice(1)->m_linkType = LINK_TYPE_CYTON8;
    EXPECT_EQ(str(rig.drv.turnOnOffChnl(250, 1, 1)), " ");
    EXPECT_EQ(boxes.texts().size(), 1u);  // the channel check's notice
    EXPECT_EQ(rig.board(0).received() + rig.board(1).received(), "");

    rig.board(1).setUnplugged(true);
    EXPECT_EQ(str(rig.drv.turnOnOffChnl(20, 1, 1)), "Er");

    Rig none(0);
    EXPECT_EQ(str(none.drv.turnOnOffChnl(3, 1, 1)), " ");
    EXPECT_EQ(boxes.texts().back(), L"Find or select port-device first!");
}

TEST(BoardCommands, ChannelSettingsFrames) {
    platform::ScopedVirtualClock vc;
    platform::ScriptedMessageBoxes boxes;
    Rig rig(2);
    EXPECT_EQ(str(rig.drv.sendChannelCommands(3, 0, 6, 0, true, true, false, 0)), "");
    EXPECT_EQ(str(rig.drv.sendChannelCommands(11, 0, 6, 0, true, true, false, 0)), "");
    EXPECT_EQ(rig.board(0).writeTexts(), Texts{"x4060110X"});
    EXPECT_EQ(rig.board(1).writeTexts(), Texts{"x4060110X"});
    rig.clearLogs();
    rig.drv.sendChannelCommands(0, 7, 2, 5, false, false, true, 0);  // any non-zero power-down is "1"
    EXPECT_EQ(rig.board(0).writeTexts(), Texts{"x1125001X"});

    rig.setLinkType(LINK_TYPE_DAISY16);
    rig.clearLogs();
    rig.drv.sendChannelCommands(11, 0, 6, 0, true, true, false, 0);
    EXPECT_EQ(rig.board(0).writeTexts(), Texts{"xR060110X"});

    // With the reply flag the board's answer is read and reported.
    rig.setLinkType(LINK_TYPE_CYTON8);
    // The frame's prompt answer goes to sendCmdGetRspst and is dropped; what
    // the board says after that wait is what the read reports.
    rig.board(0).on("x4060110X", "prompt$$$");
    EXPECT_EQ(str(rig.drv.sendChannelCommands(3, 0, 6, 0, true, true, false, 1)),
              "\n send command:x4060110X ->chnl:3\n");
    rig.board(0).on("x4060110X", "Success: Channel set for 4$$$");
    rig.board(0).setReplyDelayUs(170000);
    acqhost::clearStatusLines();
    CStringA r = rig.drv.sendChannelCommands(3, 0, 6, 0, true, true, false, 1);
    EXPECT_EQ(str(r), "\n send command:x4060110X ->chnl:3\nSuccess: Channel set for 4$$$");
    EXPECT_TRUE(statusHas(L"COM201"));
    // While the stream reader owns the input, nothing is read.
    rig.drv.m_connState = 4;
    EXPECT_EQ(str(rig.drv.sendChannelCommands(3, 0, 6, 0, true, true, false, 1)), "");
    rig.drv.m_connState = 0;

    rig.clearLogs();
    EXPECT_EQ(str(rig.drv.sendChannelCommands(400, 0, 6, 0, true, true, false, 1)), "");
    rig.drv.getDevice(1)->m_linkType = LINK_TYPE_CYTON8;
    EXPECT_EQ(str(rig.drv.sendChannelCommands(200, 0, 6, 0, true, true, false, 1)), "");
    EXPECT_EQ(boxes.texts().size(), 1u);  // the channel check's notice
    EXPECT_EQ(rig.board(0).received() + rig.board(1).received(), "");

    Rig none(0);
    EXPECT_EQ(str(none.drv.sendChannelCommands(3, 0, 6, 0, true, true, false, 1)), "");
}

TEST(BoardCommands, TestSignalGoesToTheFirstBoardOnly) {
    platform::ScopedVirtualClock vc;
    Rig rig(2);
    EXPECT_EQ(str(rig.drv.testSignalCtrlCmd(3, 0)), "");
    EXPECT_EQ(rig.board(0).writeTexts(), Texts{"p"});
    EXPECT_TRUE(rig.board(1).writeTexts().empty());
    rig.clearLogs();
    const char letters[] = "0-=p[]";
    for (int i = 0; i < 6; ++i) rig.drv.testSignalCtrlCmd(i, 0);
    EXPECT_EQ(rig.board(0).received(), std::string(letters));
    rig.clearLogs();
    EXPECT_EQ(str(rig.drv.testSignalCtrlCmd(6, 1)), "");
    EXPECT_EQ(str(rig.drv.testSignalCtrlCmd(-1, 1)), "");
    EXPECT_TRUE(rig.board(0).writeTexts().empty());

    rig.board(0).on("=", "fast$$$");
    EXPECT_EQ(str(rig.drv.testSignalCtrlCmd(2, 1)), "\n QueryDeviceSettings\nfast$$$");
    rig.drv.m_connState = 3;
    EXPECT_EQ(str(rig.drv.testSignalCtrlCmd(2, 1)), "");
    rig.board(0).setUnplugged(true);
    EXPECT_EQ(str(rig.drv.testSignalCtrlCmd(2, 1)), "Send query failed!");
}

TEST(BoardCommands, ConfigureChannelsSendsEveryRecordWithSettings) {
    platform::ScopedVirtualClock vc;
    Rig rig(2);
    Geoms g;
    OPENBCIPARAMV1* c0 = g.addEeg();  // defaults: gain 6, "Normal", bias, SRB2
    OPENBCIPARAMV1* c1 = g.addEeg();  // edited: powered down, gain 12, SRB1
    c1->powerDown = 1;
    c1->gain = 12;
    c1->srb1 = 1;
    OPENBCIPARAMV1* c2 = g.addEeg();  // edited: input type by name, any case; the code field is not read
    c2->inputTypeText = "test SIGNALS";
    c2->inputTypeCode = 1;
    c2->gain = 24;
    c2->includeBias = 0;
    OPENBCIPARAMV1* c3 = g.addEeg();  // nothing given: gain 24, "Normal"
    c3->gain = 0;
    c3->inputTypeText = "";
    for (int i = 4; i < 9; ++i) g.addEeg()->gain = 1;  // channel 8 lies on board 1
    g.addPlain();
    g.list.Add(nullptr);
    (void)c0;

    rig.board(0).on("x1030110X", "ok0");
    rig.board(0).setReplyDelayUs(170000);
    CStringA r = rig.drv.configureChannels(g.list, 1);
    Texts b0 = rig.board(0).writeTexts();
    ASSERT_GE(b0.size(), 10u);
    EXPECT_EQ((Texts(b0.begin(), b0.begin() + 9)),
              (Texts{"**", "!", "**", "x1030110X", "x2150001X", "**", "#", "**", "x3065010X"}));
    EXPECT_EQ(b0[9], "**");
    EXPECT_EQ(b0[10], "$");
    EXPECT_EQ(b0[12], "x4060110X");
    EXPECT_EQ(rig.board(1).writeTexts(), (Texts{"**", "!", "**", "x1000110X"}));
    EXPECT_NE(str(r).find("\n send command:x1030110X ->chnl:0\nok0"), std::string::npos);
    EXPECT_NE(str(r).find("->chnl:8\n"), std::string::npos);
}

