// Impedance test frames, the sweep over all channels and the channel flags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "tests/support/DriverRig.h"

using drivertest::Rig;
using Texts = std::vector<std::string>;

TEST(Impedance, FramesByLayoutModeAndBoard) {
    platform::ScopedVirtualClock vc;
    Rig rig(2);
    struct Case {
        int linkType, chnl, mode;
        bool stop;
        int board;
        const char* frame;
    } cases[] = {
        {LINK_TYPE_CYTON8, 10, 1, false, 1, "z310Z"}, {LINK_TYPE_CYTON8, 2, 2, false, 0, "z311Z"},
        {LINK_TYPE_CYTON8, 2, 0, false, 0, "z300Z"},  {LINK_TYPE_CYTON8, 2, 0, true, 0, "z300Z"},
        {LINK_TYPE_DAISY16, 10, 1, false, 0, "zE10Z"},
        // An unserved layout counts 8 channels per board, with no letter.
        {4, 9, 1, false, 1, "z010Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        rig.setLinkType(c.linkType);
        rig.clearLogs();
        auto& d = rig.drv;
        EXPECT_EQ((c.stop ? d.impedanceMeasureStop(c.chnl, 0) : d.impedanceMeasureStart(c.chnl, c.mode, 0)).str(), "");
        EXPECT_EQ(rig.board(c.board).writeTexts(), Texts{c.frame});
        EXPECT_TRUE(rig.board(1 - c.board).writeTexts().empty());
    }
}

TEST(Impedance, RepliesFailuresAndChannelsWithoutABoard) {
    platform::ScopedVirtualClock vc;
    Rig rig(2);
    rig.board(1).on("z310Z", "impedance on$$$");
    // The text names the pin on its board, not the driver channel.
    EXPECT_EQ(rig.drv.impedanceMeasureStart(10, 1, 1).str(), "\n send command:z310Z ->chnl:2\nimpedance on$$$");
    rig.drv.m_connState = 4;  // the stream reader owns the input
    EXPECT_EQ(rig.drv.impedanceMeasureStart(10, 1, 1).str(), "");
    rig.drv.m_connState = 0;

    rig.clearLogs();
    // Nothing goes beyond the last board or below the first, nor for a mode without a frame.
    EXPECT_EQ(rig.drv.impedanceMeasureStart(16, 1, 1).str() + rig.drv.impedanceMeasureStop(-3, 1).str(), "");
    EXPECT_EQ(rig.drv.impedanceMeasureStart(1, 3, 0).str(), "Send channel command failed \n");
    EXPECT_EQ(rig.board(0).received() + rig.board(1).received(), "");

    rig.board(0).setUnplugged(true);
    EXPECT_EQ(rig.drv.impedanceMeasureStop(1, 1).str(), "Send channel command failed \n");
}

TEST(Impedance, SweepStartsHoldsAndStopsEveryChannel) {
    platform::ScopedVirtualClock vc;
    Rig rig(3);
    EXPECT_EQ(rig.drv.impedanceMeasureAllChnl(200, 1, 0).str(), "");  // no device yet: nothing
    EXPECT_EQ(rig.board(0).received(), "");

    ASSERT_NE(rig.drv.getDevice(1), nullptr);
    std::int64_t t0 = platform::clock().nowUs();
    EXPECT_EQ(rig.drv.impedanceMeasureAllChnl(200, 1, 0).str(), "");
    EXPECT_GE(platform::clock().nowUs() - t0, 24 * 1000000LL);
    for (int b = 0; b < 3; ++b) {
        auto w = rig.board(b).writes();
        ASSERT_EQ(w.size(), 16u) << b;
        EXPECT_EQ(rig.board(b).received(),
                  "z110Zz100Zz210Zz200Zz310Zz300Zz410Zz400Zz510Zz500Zz610Zz600Zz710Zz700Zz810Zz800Z");
        for (std::size_t p = 0; p < 8; ++p) EXPECT_GE(w[2 * p + 1].atUs - w[2 * p].atUs, 1000000);  // at least a second
    }
    // Boards are swept in order: board 1 starts after board 0 has finished.
    EXPECT_GE(rig.board(1).writes().front().atUs, rig.board(0).writes().back().atUs);

    rig.clearLogs();
    rig.drv.impedanceMeasureAllChnl(2500, 2, 0);
    auto w = rig.board(0).writes();
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(w[0].bytes, "z111Z");
    EXPECT_GE(w[1].atUs - w[0].atUs, 2500000);

    // One Daisy board: the sweep covers eight channels.
    Rig daisy(1, LINK_TYPE_DAISY16);
    daisy.drv.getDevice(1);
    daisy.drv.impedanceMeasureAllChnl(0, 0, 0);
    EXPECT_EQ(daisy.board(0).writes().size(), 16u);
    EXPECT_EQ(daisy.board(0).writes().back().bytes, "z800Z");
}

TEST(Impedance, ToggleSetsFlagsOnTheChannelRecord) {
    platform::ScopedVirtualClock vc;
    Rig rig(2);
    EXPECT_EQ(rig.drv.impedanceCheckToggle(5), 0);  // no device
    ASSERT_NE(rig.drv.getDevice(1), nullptr);
    auto param = [&](int ch) {
        return static_cast<OPENBCIPARAMV1*>((*rig.drv.m_pDevice->m_pCurChnList)[ch]->getHdwrParam());
    };
    // Twice the same: each toggle rebuilds the list from the defaults.
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(rig.drv.impedanceCheckToggle(5), 1);
        EXPECT_EQ(std::make_pair(param(5)->impedanceFlag1, param(5)->impedanceFlag2), std::make_pair(0, 1));
    }
    EXPECT_EQ(rig.drv.impedanceCheckToggle(16) + rig.drv.impedanceCheckToggle(-1), 0);  // no settings there

    // Without dongles the list is not rebuilt: the record's own values decide.
    OPENBCIPARAMV1* rec = param(3);
    rec->includeBias = 0;
    rec->impedanceWord = 3;
    rig.drv.cleanConfigComBle2Board();
    EXPECT_EQ(rig.drv.impedanceCheckToggle(3), 1);
    EXPECT_EQ(std::make_pair(rec->impedanceFlag1, rec->impedanceFlag2), std::make_pair(1, 0));
    EXPECT_EQ(rig.drv.impedanceCheckToggle(20), 0);  // an accelerometer record has no settings
}
