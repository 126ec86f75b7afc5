#include "board/TrackGainMb.h"

#include <algorithm>

namespace {
constexpr char kChannelLetters[] = "12345678QWERTYUI";
constexpr int kAvailableGains[] = {1, 2, 4, 6, 8, 12, 24};

bool isBit(char c) { return c == '0' || c == '1'; }
}  // namespace

CTrackGainMb::CTrackGainMb()
    : m_channelLetters(kChannelLetters, kChannelLetters + sizeof(kChannelLetters) - 1),
      m_availableGains(std::begin(kAvailableGains), std::end(kAvailableGains)) {}

CTrackGainMb::CTrackGainMb(std::vector<int> gains) : CTrackGainMb() {
    m_currentGains = gains;
    m_previousGains = std::move(gains);
}

CTrackGainMb::~CTrackGainMb() = default;

int CTrackGainMb::apply_single_command(std::string frame) {
    const size_t len = m_commandLength;
    if (frame.size() < len || frame[0] != 'x' || frame[len - 1] != 'X') return 0;

    if (!isBit(frame[5]) || !isBit(frame[6]) || !isBit(frame[7])) return 2;
    if (frame[4] < '0' || frame[4] > '7') return 2;
    if (frame[3] < '0' || frame[3] > '6') return 2;
    if (!isBit(frame[2])) return 2;  // power-down: checked, otherwise ignored
    auto it = std::find(m_channelLetters.begin(), m_channelLetters.end(), frame[1]);
    if (it == m_channelLetters.end()) return 2;
    const size_t k = static_cast<size_t>(it - m_channelLetters.begin());
    if (k >= m_currentGains.size()) return 2;

    m_previousGains[k] = m_currentGains[k];
    m_currentGains[k] = m_availableGains[static_cast<size_t>(frame[3] - '0')];
    return 1;
}

int CTrackGainMb::apply_config(std::string text) {
    const size_t len = m_commandLength;
    int result = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == 'x' && i + len <= text.size() && text[i + len - 1] == 'X') {
            result = apply_single_command(text.substr(i, len));
            i += len;  // a rejected frame is skipped whole too
        } else {
            ++i;
        }
    }
    return result;
}

int CTrackGainMb::get_gain_for_channel(int channel) {
    if (channel < 0 || static_cast<size_t>(channel) >= m_currentGains.size()) return 1;
    return m_currentGains[static_cast<size_t>(channel)];
}

void CTrackGainMb::revert_config() {
    // Both vectors always have the same length.
    for (size_t i = 0; i < m_currentGains.size() && i < m_previousGains.size(); ++i)
        m_currentGains[i] = m_previousGains[i];
}

CTrackGainMbzq::CTrackGainMbzq(int boardType) : CTrackGainMb() { setBoardType(boardType); }

CTrackGainMbzq::~CTrackGainMbzq() = default;

int CTrackGainMbzq::setBoardType(int boardType) {
    size_t channels = 0;
    if (boardType == 6)
        channels = 8;
    else if (boardType == 7)
        channels = 16;
    else
        return 0;
    m_currentGains.assign(channels, 24);
    m_previousGains.assign(channels, 24);
    m_boardType = boardType;
    return 1;
}
