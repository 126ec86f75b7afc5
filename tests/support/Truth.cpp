#include "tests/support/Truth.h"

namespace truthtest {

namespace {
Counts stored(Counts c) {
    for (auto& v : c) v = v < -8388607 ? -8388607 : v;
    return c;
}
}  // namespace

std::vector<sim::TruthRow> truthOf(const sim::SimBoard& board) {
    std::vector<sim::TruthRow> out;
    for (const sim::PacketRecord& p : board.packets())
        out.push_back({board.index() + 1, p.index, p.sample,
                       p.dropped ? sim::kTruthDropped : p.bytesSent < sim::kPacketBytes ? sim::kTruthCut : sim::kTruthSent,
                       p.counts});
    return out;
}

Walk walk(const std::vector<Counts>& rows, const std::vector<sim::TruthRow>& truth) {
    Walk w;
    if (rows.empty()) return {0, 0, 0, 0, "no rows"};
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < truth.size(); ++i)
        if (truth[i].dropped == sim::kTruthSent && stored(truth[i].counts) == stored(rows[0])) starts.push_back(i);
    if (starts.size() != 1) return {0, 0, 0, 0, "row 0 is at " + std::to_string(starts.size()) + " places in the truth"};
    std::size_t k = w.first = starts[0];
    for (std::size_t r = 1; r < rows.size(); ++r) {
        if (++k >= truth.size()) return {w.first, 0, 0, 0, "row " + std::to_string(r) + " is past the end of the truth"};
        const sim::TruthRow& t = truth[k];
        const bool held = t.dropped == sim::kTruthDropped;
        w.spanDrops += held;
        if (t.dropped == sim::kTruthCut || stored(rows[r]) != stored(held ? rows[r - 1] : t.counts))
            return {w.first, 0, 0, 0,
                    "row " + std::to_string(r) + " is not truth #" + std::to_string(k) + " (sample " +
                        std::to_string(t.sample) + (held ? ", lost: the row before)" : ")") +
                        (rows[r] == rows[r - 1] ? ", it holds the row before" : "")};
    }
    w.last = k;
    for (std::size_t i = k + 1; i < truth.size() && truth[i].dropped == sim::kTruthDropped; ++i) ++w.trailingDrops;
    return w;
}

}  // namespace truthtest
