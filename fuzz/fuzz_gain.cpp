// The gain tracker on arbitrary command text, against a straightforward model
// of the frame rules. Input: byte 0 picks the board type (its low bits: 6, 7,
// or any other value) and whether to revert after each text; the rest is a
// list of texts separated by 0x00, each given to apply_config.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/TrackGainMb.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "gain tracker: %s\n", what);
        std::abort();
    }
}

const std::string kLetters = "12345678QWERTYUI";
const int kGains[7] = {1, 2, 4, 6, 8, 12, 24};

struct Model {
    std::vector<int> cur, prev;
    int single(const std::string& f) {
        if (f.size() < 9 || f[0] != 'x' || f[8] != 'X') return 0;
        for (int p : {5, 6, 7})
            if (f[p] != '0' && f[p] != '1') return 2;
        if (f[4] < '0' || f[4] > '7' || f[3] < '0' || f[3] > '6' || (f[2] != '0' && f[2] != '1')) return 2;
        const std::size_t k = kLetters.find(f[1]);
        if (k == std::string::npos || k >= cur.size()) return 2;
        prev[k] = cur[k];
        cur[k] = kGains[f[3] - '0'];
        return 1;
    }
    int apply(const std::string& t) {
        int result = 0;
        for (std::size_t i = 0; i < t.size();) {
            if (t[i] == 'x' && i + 9 <= t.size() && t[i + 8] == 'X') {
                result = single(t.substr(i, 9));
                i += 9;
            } else {
                ++i;
            }
        }
        return result;
    }
};

bool isGain(int g) {
    for (int a : kGains)
        if (a == g) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int types[4] = {6, 7, 6, data[0] >> 3};
    const int type = types[data[0] & 3];
    const bool revert = data[0] & 4;

    CTrackGainMbzq tracker(type);
    Model model;
    const std::size_t n = type == 6 ? 8 : type == 7 ? 16 : 0;
    model.cur.assign(n, 24);
    model.prev.assign(n, 24);
    check(tracker.channelCount() == static_cast<int>(n), "channel count not that of the board type");

    std::string text;
    auto run = [&] {
        const int r = tracker.apply_config(text);
        check(r == model.apply(text), "apply_config result differs from the frame rules");
        if (revert) {
            tracker.revert_config();
            model.cur = model.prev;
        }
        for (int ch = -2; ch < 18; ++ch) {
            const int g = tracker.get_gain_for_channel(ch);
            if (ch < 0 || ch >= static_cast<int>(n)) check(g == 1, "gain of an unknown channel is not 1");
            else {
                check(isGain(g) && g >= 1 && g <= 24, "gain outside the available gains");
                check(g == model.cur[ch], "gain differs from the frame rules");
            }
        }
        text.clear();
    };
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) run();
        else text += static_cast<char>(data[i]);
    }
    run();

    // Copies carry every gain; a new board type forgets them.
    CTrackGainMbzq copy = tracker;
    for (int ch = 0; ch < static_cast<int>(n); ++ch)
        check(copy.get_gain_for_channel(ch) == tracker.get_gain_for_channel(ch), "copy lost a gain");
    check(copy.setBoardType(7) == 1 && copy.get_gain_for_channel(15) == 24 && copy.get_gain_for_channel(0) == 24,
          "setBoardType(7) did not reset to 24");
    return 0;
}
