// The per-board gain tracker: the frames it takes, and its board types.
#include <gtest/gtest.h>

#include "board/TrackGainMb.h"

namespace {
std::vector<int> gains(CTrackGainMb& t) {
    std::vector<int> v;
    for (int i = 0; i < t.channelCount(); ++i) v.push_back(t.get_gain_for_channel(i));
    return v;
}
}  // namespace

TEST(GainTracker, FramesAmongTextChangeTheGainOrAreRejectedWhole) {
    struct Case {
        int type;
        const char* text;
        int result, channel, gain;  // the result, then one channel's gain after it
    } cases[] = {
        {6, "x3000110X", 1, 2, 1},   {6, "x3010110X", 1, 2, 2},    {6, "x3020110X", 1, 2, 4},
        {6, "x3030110X", 1, 2, 6},   {6, "x3040110X", 1, 2, 8},    {6, "x3050110X", 1, 2, 12},
        {6, "x3060110X", 1, 2, 24},  {6, "abx1050000Xzz", 1, 0, 12}, {6, "x1020000Xx2050000X", 1, 1, 12},
        // Invalid fields: rejected, nothing changes.
        {6, "x1070000X", 2, 0, 24},  {6, "x1080000X", 2, 0, 24},   {6, "x1028000X", 2, 0, 24},
        {6, "x1220000X", 2, 0, 24},  {6, "x1020200X", 2, 0, 24},   {6, "x1020020X", 2, 0, 24},
        {6, "x1020002X", 2, 0, 24},  {6, "x9020000X", 2, 0, 24},   {6, "xq060110X", 2, 0, 24},
        {6, "xQ060110X", 2, 0, 24},  {7, "xq060110X", 2, 8, 24},
        // Not frames: 0, nothing changes.
        {6, "", 0, 0, 24},           {6, "x10200000X", 0, 0, 24},  {6, "x102000X", 0, 0, 24},
        {6, "X1020000x", 0, 0, 24},  {6, "x1020000", 0, 0, 24},
        // The result is that of the last frame found, valid or not.
        {6, "x3010000Xx1090000X", 2, 2, 2}, {6, "x1x20000Xx3000000X", 1, 2, 1},
        // Daisy channels Q..I on 16-channel boards; none on other types.
        {7, "xQ020110X", 1, 8, 4},   {7, "xI010110X", 1, 15, 2},   {5, "x1020000X", 2, 0, 1},
    };
    for (const Case& c : cases) {
        CTrackGainMbzq t(c.type);
        EXPECT_EQ(t.apply_config(c.text), c.result) << c.text;
        EXPECT_EQ(t.get_gain_for_channel(c.channel), c.gain) << c.text;
        if (c.result != 1 && std::string(c.text).size() <= 10) {
            EXPECT_EQ(gains(t), std::vector<int>(t.channelCount(), 24)) << c.text;
        }
    }
}

TEST(GainTracker, BoardTypesRevertAndCopies) {
    CTrackGainMbzq cyton(6);
    EXPECT_EQ(gains(cyton), std::vector<int>(8, 24));
    EXPECT_EQ(cyton.get_gain_for_channel(8) + cyton.get_gain_for_channel(-1), 2);  // none there: 1
    EXPECT_EQ(CTrackGainMbzq(5).channelCount(), 0);
    cyton.apply_config("x1020000X");
    EXPECT_EQ(cyton.setBoardType(5), 0);  // an unknown type changes nothing
    EXPECT_EQ(cyton.get_gain_for_channel(0), 4);
    EXPECT_EQ(cyton.setBoardType(7), 1);  // setting the type forgets every change
    EXPECT_EQ(gains(cyton), std::vector<int>(16, 24));
    CTrackGainMb given({2, 4});
    EXPECT_EQ(gains(given), (std::vector<int>{2, 4}));

    // Revert remembers only the last change; powered-down channels are tracked too.
    CTrackGainMbzq t(6);
    t.apply_config("x4120000X");
    t.apply_config("x4040000X");
    EXPECT_EQ(t.get_gain_for_channel(3), 8);
    t.revert_config();
    EXPECT_EQ(t.get_gain_for_channel(3), 4);
    t.revert_config();
    EXPECT_EQ(t.get_gain_for_channel(3), 4);
    CTrackGainMbzq copy(t);
    copy.apply_config("x4000000X");
    EXPECT_EQ(t.get_gain_for_channel(3), 4);
}
