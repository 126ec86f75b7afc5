// Puts the boards' packets into sample rows by their sample numbers, not by
// when their bytes happen to arrive: a row is given out when every board has
// its next sample. A board holds its previous values in a row only for a
// packet the radio lost (seen from the gap in its sample numbers), while it
// is silent, or on purpose for clock drift; each such row is counted, and a
// packet that does not continue its board's sequence goes into no row.
//
// Pure logic: bytes and the times they were read come in, rows go out; no
// I/O, and time only as given by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "stream/PacketDecoder.h"

namespace stream {

struct BoardCounts {
    std::uint64_t rows = 0;
    std::uint64_t packets = 0;       // in sequence: into a row, or dropped for drift
    std::uint64_t lost = 0;          // rows held for lost packets or silence
    std::uint64_t badFooters = 0;    // also packets cut short
    std::uint64_t outOfSequence = 0; // decoded, but not the board's next sample
    std::uint64_t late = 0;          // came after its row had been given out held
    std::uint64_t driftHeld = 0;
    std::uint64_t driftDropped = 0;
    std::uint64_t rejected() const { return badFooters + outOfSequence + late; }
};

// What one board gives to one row.
struct RowEntry {
    enum Kind : std::uint8_t { Packet, Lost, DriftHold };
    Kind kind = Lost;
    CytonPacket packet;  // for Packet
};

class RowAligner {
public:
    struct Timing {
        std::int64_t periodUs = 4000;  // 250 Hz
        // A packet that leaves a gap in its board's sample numbers is taken
        // once the next one continues it, or after this long alone.
        std::int64_t confirmUs = 40000;
        // How long a row may wait for a silent board before it is given out
        // with that board held.
        std::int64_t stallUs = 200000;
        // ...and, once it has been held, how long a row waits for it: longer
        // than its packets can come after the others' (a period, the USB
        // latency timer of up to 16 ms, the scheduler).
        std::int64_t silentWaitUs = 50000;
        // Rows start when every board has sent; a board silent this long
        // after the first one sent does not hold the start.
        std::int64_t startUs = 1000000;
        // Rows over which the boards' lead on the reference board is averaged.
        double driftRows = 512;
        // The averaged lead, in samples, beyond which a sample is dropped or held.
        double driftBound = 0.6;
        // Rows after the start (or after any board's silence) before the
        // lead's baseline is taken.
        std::int64_t driftSettleRows = 250;
        std::int64_t driftBaselineRows = 1000;
        // Rows between two adjustments of one board, at least (10 s).
        std::int64_t driftMinRows = 2500;
    };

    // Something worth a note in the recording: (board, what, the row it concerns).
    enum class Event { DriftHeld, DriftDropped };
    using EventSink = std::function<void(std::size_t board, Event what, std::int64_t row)>;

    explicit RowAligner(std::size_t boards, Timing timing);
    RowAligner(std::size_t boards) : RowAligner(boards, Timing{}) {}

    void setEventSink(EventSink sink) { events_ = std::move(sink); }

    // Bytes of board b, read at nowUs.
    void feed(std::size_t b, const std::uint8_t* data, std::size_t n, std::int64_t nowUs);
    // Board b's stream was started anew (its sample numbers may start
    // anywhere): its next packet is placed by the time it was away.
    void restarted(std::size_t b);

    // Judges what came and decides holds for silence and drift at nowUs;
    // then rows are taken with nextRow until it returns false.
    void update(std::int64_t nowUs);
    bool nextRow(std::vector<RowEntry>& row);

    bool started() const { return started_; }
    std::int64_t rowsOut() const { return rowsOut_; }
    const BoardCounts& counts(std::size_t b) const { return lanes_[b].counts; }
    // Packets board b has put in sequence during the last update.
    std::uint64_t acceptedTotal(std::size_t b) const { return lanes_[b].acceptedTotal; }
    // The latest time update() will need to run again to keep its bounds
    // (a lone packet to confirm, a row waiting for a silent board).
    std::int64_t nextDeadlineUs() const { return nextDeadlineUs_; }
    // The earliest a new row can be complete: every board that has nothing
    // for it sends its next packet about a period after its last one; earlyUs
    // before that, for the jitter of the USB frames. 0 when no guess is safe
    // (a board silent, restarted, or with a packet still to judge).
    std::int64_t nextRowDueUs(std::int64_t earlyUs) const;
    // Packets waiting in board b's queues (for tests and diagnostics).
    std::size_t queued(std::size_t b) const { return lanes_[b].raw.size() + lanes_[b].ready.size(); }

private:
    struct Lane {
        PacketDecoder decoder;
        std::deque<CytonPacket> raw;   // decoded, not yet judged
        std::deque<RowEntry> ready;    // judged, waiting for their row
        int expected = -1;             // next sample number; -1: none yet
        std::int64_t lastAcceptUs = 0;
        std::uint64_t heldSinceAccept = 0;  // silence holds since the last packet
        bool restarted = false;
        bool silent = false;           // being held for silence
        std::uint64_t acceptedTotal = 0;
        BoardCounts counts;
        // The lane's own clock: entries it has had since the start (a sample
        // each: rows given out and queued), and the earliest its first could
        // have come, from the packet that came soonest for its place; it may
        // creep later by kOriginCreep, for a board clock slower than the PC's.
        std::int64_t entries() const { return static_cast<std::int64_t>(counts.rows + ready.size()); }
        std::int64_t originUs = INT64_MIN;  // INT64_MIN: no packet placed yet
        std::int64_t originSeenUs = 0;      // when it was last lowered or crept
        // When its next entry is due by that clock; INT64_MAX if unknown.
        std::int64_t dueUs(std::int64_t periodUs) const {
            return originUs == INT64_MIN ? INT64_MAX : originUs + entries() * periodUs;
        }
        // drift
        double lead = 0;
        double baseline = 0;
        double baselineSum = 0;
        std::int64_t baselineN = 0;
        std::int64_t lastAdjustRow = INT64_MIN / 2;
    };

    enum class Verdict { Yes, No, Wait };
    Verdict follows(const Lane& l, const CytonPacket& h, int gapFromExpected, std::int64_t nowUs);
    Verdict startsStream(const Lane& l, const CytonPacket& h, std::int64_t nowUs);
    void judge(Lane& l, std::int64_t nowUs);
    void accept(Lane& l, const CytonPacket& p, std::uint64_t missing);
    void place(Lane& l, std::int64_t arrivalUs, std::int64_t index);
    void start(std::int64_t nowUs);
    void holdSilent(std::int64_t nowUs);
    void trackDrift(std::int64_t rows);
    void resetDrift();
    bool rowReady() const;

    std::vector<Lane> lanes_;
    Timing t_;
    EventSink events_;
    bool started_ = false;
    std::int64_t firstSentUs_ = -1;
    std::int64_t rowsOut_ = 0;
    std::int64_t nextDeadlineUs_ = INT64_MAX;
    std::int64_t now_ = 0;
    // drift
    std::int64_t driftRef_ = -1;
    std::int64_t driftRowsSince_ = 0;  // rows since the baseline was last restarted
    std::int64_t rowsPending_ = 0;     // rows given out since the last update
};

}  // namespace stream
