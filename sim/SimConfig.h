// How a simulated rig is made: boards, dongles, the radio between them, and
// the faults each one shows. Times of scheduled faults are microseconds after
// the rig was created, on the platform clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct BoardConfig {
    int channel = 0;                    // radio channel 1..25; 0: the channel of its dongle
    bool powered = true;
    bool daisy = false;                 // a Daisy module is fitted (attached at power-up)
    bool sdCard = true;
    double dropRate = 0;                // share of stream packets lost on the radio
    double driftPpm = 0;                // sample clock error; positive runs fast
    std::vector<std::uint8_t> footers{};  // footers used in turn instead of the firmware's own choice
    std::int64_t powerOffAtUs = -1;     // scheduled power loss
    int powerOffAfterBytes = -1;        // with powerOffAtUs: the next packet stops after this many bytes
    std::int64_t powerOnAtUs = -1;      // scheduled power-up
    std::vector<double> electrodeOhms{};  // per channel from 1; missing ones drawn from the seed (3-40 kOhm)
};

struct DongleConfig {
    int channel = 0;                    // radio channel 1..25; 0: (board index mod 25) + 1
    int pollTime = 80;
    unsigned baud = 115200;             // dongle-to-PC rate
    bool dead = false;                  // never answers anything
    double garbageRate = 0;             // chance of a burst of garbage after each stream packet
    int garbageBytes = 12;              // length of one burst
    std::int64_t unplugAtUs = -1;
    std::int64_t replugAtUs = -1;
};

struct SimConfig {
    int boards = 1;                     // one dongle per board
    std::uint64_t seed = 1;
    BoardConfig board{};                // for every board without an entry in perBoard
    DongleConfig dongle{};              // for every dongle without an entry in perDongle
    std::vector<BoardConfig> perBoard{};  // entry k replaces `board` for board k
    std::vector<DongleConfig> perDongle{};
    std::int64_t radioLatencyUs = 1000;   // one way, dongle <-> board
    std::int64_t radioTimeoutUs = 2000;   // until the dongle gives up on a silent board
    std::int64_t usbLatencyUs = 1000;     // FTDI latency timer: a USB packet of under 62 bytes waits for it; 0 per byte
    std::int64_t usbJitterUs = 0;         // each USB packet reaches the PC up to this much late (seeded)
    bool keepLog = true;                  // keep every packet and command as ground truth
    std::size_t dongleBufferBytes = 4u << 20;  // bytes a dongle holds for a PC that does not read
    int firstPort = 0;                    // dongle k is memory port "mem:<firstPort + k>"

    const BoardConfig& boardConfig(int k) const {
        return k < static_cast<int>(perBoard.size()) ? perBoard[k] : board;
    }
    const DongleConfig& dongleConfig(int k) const {
        return k < static_cast<int>(perDongle.size()) ? perDongle[k] : dongle;
    }

    // Electrode impedances in kOhm, board 1's channels first, the list used
    // in turn when it is shorter than the electrodes. After perBoard is set.
    void setElectrodeKOhms(const std::vector<double>& kOhms) {
        if (kOhms.empty()) return;
        if (perBoard.size() < static_cast<std::size_t>(boards)) perBoard.resize(static_cast<std::size_t>(boards), board);
        std::size_t i = 0;
        for (BoardConfig& b : perBoard) {
            b.electrodeOhms.clear();
            for (int ch = 0; ch < (b.daisy ? 16 : 8); ++ch) b.electrodeOhms.push_back(kOhms[i++ % kOhms.size()] * 1e3);
        }
    }
};

}  // namespace sim
