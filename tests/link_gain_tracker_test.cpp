// The per-board gain tracker: which texts it takes as channel settings
// frames, what it does with valid and invalid ones, and its board types.
#include <gtest/gtest.h>

#include "board/TrackGainMb.h"

namespace {
std::vector<int> gains(CTrackGainMb& t) {
    std::vector<int> v;
    for (int i = 0; i < t.channelCount(); ++i) v.push_back(t.get_gain_for_channel(i));
    return v;
}
}  // namespace

TEST(GainTracker, BoardTypesSetChannelCountsAndDefaultGain) {
    CTrackGainMbzq cyton(6);
    EXPECT_EQ(cyton.channelCount(), 8);
    EXPECT_EQ(gains(cyton), std::vector<int>(8, 24));
    EXPECT_EQ(cyton.get_gain_for_channel(8), 1);
    EXPECT_EQ(cyton.get_gain_for_channel(-1), 1);

    CTrackGainMbzq daisy(7);
    EXPECT_EQ(gains(daisy), std::vector<int>(16, 24));

    // An unknown type changes nothing.
    EXPECT_EQ(cyton.apply_config("x1020000X"), 1);
    EXPECT_EQ(cyton.setBoardType(5), 0);
    EXPECT_EQ(cyton.get_gain_for_channel(0), 4);
    EXPECT_EQ(cyton.boardType(), 6);

    CTrackGainMbzq none(5);
    EXPECT_EQ(none.channelCount(), 0);
    EXPECT_EQ(none.get_gain_for_channel(0), 1);
    EXPECT_EQ(none.apply_config("x1020000X"), 2);

    // Setting the type again forgets every change.
    EXPECT_EQ(cyton.setBoardType(7), 1);
    EXPECT_EQ(gains(cyton), std::vector<int>(16, 24));

    CTrackGainMb given({2, 4});
    EXPECT_EQ(gains(given), (std::vector<int>{2, 4}));
}

TEST(GainTracker, EveryGainCodeMapsToItsGain) {
    CTrackGainMbzq t(6);
    const int expected[] = {1, 2, 4, 6, 8, 12, 24};
    for (int code = 0; code <= 6; ++code) {
        std::string frame = "x3" + std::string("0") + char('0' + code) + "0110X";
        EXPECT_EQ(t.apply_config(frame), 1) << frame;
        EXPECT_EQ(t.get_gain_for_channel(2), expected[code]);
    }
}

TEST(GainTracker, InvalidFieldsAreRejectedWithoutChange) {
    CTrackGainMbzq t(6);
    const char* bad[] = {
        "x1070000X",  // gain code 7
        "x1080000X",  // gain code 8
        "x1028000X",  // input type 8
        "x1220000X",  // power-down "2"
        "x1020200X",  // bias "2"
        "x1020020X",  // SRB2 "2"
        "x1020002X",  // SRB1 "2"
        "x9020000X",  // no such channel letter
        "xq060110X",  // letters are upper case
        "xQ060110X",  // Daisy channel on an 8-channel board
    };
    for (const char* f : bad) {
        EXPECT_EQ(t.apply_config(f), 2) << f;
        EXPECT_EQ(gains(t), std::vector<int>(8, 24)) << f;
    }
    CTrackGainMbzq daisy(7);
    EXPECT_EQ(daisy.apply_config("xQ020110X"), 1);
    EXPECT_EQ(daisy.get_gain_for_channel(8), 4);
    EXPECT_EQ(daisy.apply_config("xI010110X"), 1);
    EXPECT_EQ(daisy.get_gain_for_channel(15), 2);
    EXPECT_EQ(daisy.apply_config("xq060110X"), 2);
}

TEST(GainTracker, FramesAreFoundAmongOtherText) {
    CTrackGainMbzq t(6);
    EXPECT_EQ(t.apply_config("abx1050000Xzz"), 1);
    EXPECT_EQ(t.get_gain_for_channel(0), 12);

    EXPECT_EQ(t.apply_config("x1020000Xx2050000X"), 1);
    EXPECT_EQ(t.get_gain_for_channel(0), 4);
    EXPECT_EQ(t.get_gain_for_channel(1), 12);

    // Not frames: nothing changes and the result is 0.
    for (const char* s : {"", "hello", "x10200000X", "x102000X", "X1020000x", "x1020000"}) {
        EXPECT_EQ(t.apply_config(s), 0) << s;
    }
    EXPECT_EQ(t.get_gain_for_channel(0), 4);

    // The result is that of the last frame found, valid or not.
    EXPECT_EQ(t.apply_config("x3010000Xx1090000X"), 2);
    EXPECT_EQ(t.get_gain_for_channel(2), 2);
    EXPECT_EQ(t.apply_config("x1x20000Xx3000000X"), 1);
    EXPECT_EQ(t.get_gain_for_channel(2), 1);
    EXPECT_EQ(t.get_gain_for_channel(0), 4);
}

TEST(GainTracker, RevertRemembersOnlyTheLastChange) {
    CTrackGainMbzq t(6);
    t.apply_config("x1020000X");
    EXPECT_EQ(t.get_gain_for_channel(0), 4);
    t.revert_config();
    EXPECT_EQ(t.get_gain_for_channel(0), 24);

    t.apply_config("x4120000X");  // powered down: still tracked
    t.apply_config("x4040000X");
    EXPECT_EQ(t.get_gain_for_channel(3), 8);
    t.revert_config();
    EXPECT_EQ(t.get_gain_for_channel(3), 4);
    t.revert_config();  // a second revert changes nothing more
    EXPECT_EQ(t.get_gain_for_channel(3), 4);

    // Copies are independent.
    CTrackGainMbzq copy(t);
    copy.apply_config("x4000000X");
    EXPECT_EQ(copy.get_gain_for_channel(3), 1);
    EXPECT_EQ(t.get_gain_for_channel(3), 4);
}
