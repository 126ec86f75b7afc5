// Per-board gain tracker: follows the channel settings frames applied to a
// board and tells each channel's current amplifier gain.
#pragma once

#include <string>
#include <vector>

class CTrackGainMb {
public:
    CTrackGainMb();
    explicit CTrackGainMb(std::vector<int> gains);
    CTrackGainMb(const CTrackGainMb&) = default;
    CTrackGainMb& operator=(const CTrackGainMb&) = default;
    virtual ~CTrackGainMb();

    virtual int apply_config(std::string text);
    virtual int get_gain_for_channel(int channel);
    virtual void revert_config();

    int boardType() const { return m_boardType; }
    int channelCount() const { return static_cast<int>(m_currentGains.size()); }

protected:
    int apply_single_command(std::string frame);

    size_t m_commandLength = 9;
    std::vector<char> m_channelLetters;
    std::vector<int> m_availableGains;
    std::vector<int> m_currentGains;
    std::vector<int> m_previousGains;
    int m_boardType = 6;
};

class CTrackGainMbzq : public CTrackGainMb {
public:
    CTrackGainMbzq() = default;
    explicit CTrackGainMbzq(int boardType);
    CTrackGainMbzq(const CTrackGainMbzq&) = default;
    CTrackGainMbzq& operator=(const CTrackGainMbzq&) = default;
    ~CTrackGainMbzq() override;

    int setBoardType(int boardType);
};
