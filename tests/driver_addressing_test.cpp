// Channel addressing and channel settings of the driver.
#include <gtest/gtest.h>

#include <string>

#include "platform/afxwin.h"
#include "tests/support/DriverRig.h"

using drivertest::Rig;
using drivertest::TestDriver;

TEST(DriverAddressing, LettersBoardsPinsAndPortsByLayout) {
    struct Case {
        int linkType, boards;
        const char* letters;  // of one board's pins
    } cases[] = {{LINK_TYPE_CYTON8, 3, "12345678"}, {LINK_TYPE_DAISY16, 2, "12345678QWERTYUI"},
                 {LINK_TYPE_CYTON8, 1, "12345678"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.boards) + " boards of " + c.letters);
        Rig r(c.boards, c.linkType);
        auto port = [&](int b) { return r.drv.m_dongles[static_cast<size_t>(b)]->m_pSerialPort; };
        const int per = static_cast<int>(std::string(c.letters).size());
        for (int ch = 0; ch < c.boards * per; ++ch) {
            int pin = -99, board = -99;
            EXPECT_EQ(r.drv.getChar4Chnl(ch, pin), c.letters[ch % per]) << ch;
            EXPECT_EQ(pin, ch % per) << ch;
            ASSERT_EQ(r.drv.driverChnl2BoardPinChanID(ch, board, pin), 1);
            EXPECT_EQ(std::make_pair(board, pin), std::make_pair(ch / per, ch % per)) << ch;
            EXPECT_EQ(r.drv.getChnlCom(ch), port(ch / per)) << ch;
        }
        EXPECT_EQ(r.drv.m_chnPerBoard, per);
        EXPECT_EQ(r.drv.getChnlCom(1000), port(c.boards - 1));  // clamped to the last board
        EXPECT_EQ(r.drv.getChnlCom(-20), port(0));              // and to the first
        // A negative channel keeps its truncating remainder and has no letter.
        int pin = 0;
        EXPECT_EQ(r.drv.getChar4Chnl(-3, pin), '0');
        EXPECT_EQ(pin, -3);
    }
}

TEST(DriverAddressing, UnservedLayoutOrNoDonglesGiveNothing) {
    Rig r(2, 4);
    r.drv.m_chnPerBoard = 8;
    int pin = 77, board = 55;
    EXPECT_EQ(r.drv.getChar4Chnl(13, pin), '0');
    EXPECT_EQ(r.drv.driverChnl2BoardPinChanID(13, board, pin), 0);
    EXPECT_EQ(std::make_pair(board, pin), std::make_pair(55, 77));
    EXPECT_EQ(r.drv.getChnlCom(0), nullptr);
    EXPECT_EQ(r.drv.m_chnPerBoard, 8);

    // The user configuration drives letters, the detected one the ports.
    r.user.m_linkType = LINK_TYPE_CYTON8;
    EXPECT_EQ(r.drv.getChar4Chnl(9, pin), '2');
    EXPECT_EQ(r.drv.getChnlCom(9), nullptr);

    TestDriver bare;  // no configurations at all
    EXPECT_EQ(bare.getChar4Chnl(1, pin), '0');
    EXPECT_EQ(bare.getChnlCom(1), nullptr);
    EXPECT_EQ(bare.getChnlParam(0), nullptr);
}

TEST(DriverAddressing, ChannelNumberCheck) {
    platform::ScriptedMessageBoxes boxes;
    TestDriver drv;
    const wchar_t* kOnlyDaisy = L"Only multi-CytonDaisy device has more than 200 channels!?";
    struct Case {
        int linkType;  // -1: no device yet, only the upper bound applies
        int chnl, ok;
        const wchar_t* message;
    } cases[] = {
        {-1, 200, 1, nullptr}, {-1, 399, 1, nullptr}, {-1, 400, 0, nullptr}, {-1, -1, 0, nullptr},
        {LINK_TYPE_CYTON8, 199, 1, nullptr}, {LINK_TYPE_CYTON8, 200, 0, kOnlyDaisy},
        {LINK_TYPE_CYTON8, 400, 0, nullptr}, {LINK_TYPE_DAISY16, 200, 1, nullptr}, {LINK_TYPE_DAISY16, 399, 1, nullptr},
    };
    for (const Case& c : cases) {
        if (c.linkType >= 0 && drv.getDevice(1)) drv.m_pDevice->m_linkType = c.linkType;
        boxes.clear();
        EXPECT_EQ(drv.checkMultiBoardChnl(c.chnl), c.ok) << c.linkType << " " << c.chnl;
        EXPECT_EQ(boxes.texts(), c.message ? std::vector<std::wstring>{c.message} : std::vector<std::wstring>{});
    }
}

TEST(DriverAddressing, ChannelSettingsComeFromAFreshRebuild) {
    Rig rig(2, LINK_TYPE_CYTON8);
    ASSERT_NE(rig.drv.getDevice(1), nullptr);
    ASSERT_NE(rig.drv.getChnlParam(5), nullptr);
    rig.drv.getChnlParam(5)->gain = 2;
    EXPECT_EQ(rig.drv.getChnlParam(5)->gain, 6);  // the rebuild hands out default records
    // EEG channels have settings; the accelerometers after them and out-of-range ones none.
    for (auto [chnl, has] : {std::pair{15, true}, {16, false}, {-1, false}, {14 * 2 + 6, false}})
        EXPECT_EQ(rig.drv.getChnlParam(chnl) != nullptr, has) << chnl;
    rig.setLinkType(LINK_TYPE_DAISY16);
    EXPECT_NE(rig.drv.getChnlParam(31), nullptr);
    EXPECT_EQ(rig.drv.getChnlParam(32), nullptr);
}
