#include "app/Impedance.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

#include "acqhost/ChannelLabels.h"
#include "app/BoardWatch.h"
#include "app/Console.h"
#include "app/Output.h"
#include "platform/clock.h"

namespace app {
namespace {

constexpr double kLeadOffHz = 31.25;  // the ADC's AC lead-off current: a square wave
constexpr double kLeadOffAmps = 6e-9;  // of this peak
constexpr double kSeriesOhms = 2200;   // the board's resistor in front of every input
constexpr double kSettleS = 0.2;       // after the current is switched on, before measuring
// Windows of whole 0.8 s blocks: whole periods of the lead-off current and of
// 50 and 60 Hz mains at 250 and 125 Hz, so none of them leaks into another.
constexpr double kBlockS = 0.8;
constexpr std::int64_t kMaxBlocks = 10;

// The stream's samples counted from its start, across the rounds of the ring.
std::int64_t samplesSoFar(CMeAcqDatazq& data) { return data.m_rowsOut.load(std::memory_order_acquire); }

struct Electrode {
    CMeAcgChannelzq* ch = nullptr;
    int board = 0, pin = 0;  // from 0
    double kOhm = std::numeric_limits<double>::quiet_NaN();
};

std::string rating(double kOhm, const ImpedanceArgs& a) {
    if (!std::isfinite(kOhm)) return "no data";
    return kOhm <= a.goodKOhm ? "good" : (kOhm <= a.fairKOhm ? "fair" : "bad");
}

// Status 3 (a board lost) when some electrodes got no value.
int missing(const std::vector<ElectrodeImpedance>& electrodes) {
    int n = 0;
    for (const ElectrodeImpedance& e : electrodes) n += std::isfinite(e.kOhm) ? 0 : 1;
    if (n == 0) return kExitOk;
    std::fflush(stdout);
    error("impedance: no value for " + std::to_string(n) +
          " electrode(s): their board sent too little while they were measured");
    return kExitBoardLost;
}

}  // namespace

// The lead-off current is a square wave of peak I clocked with the samples,
// so it is sampled at the same n = rate / 31.25 points each period (8 at
// 250 Hz). Its Fourier component at 31.25 Hz over whole periods is immune to
// the electrode's DC offset, to slow drift (a straight line is taken off
// first) and to mains, alpha and white noise, which a peak-to-peak reading is
// not. A continuous square wave's fundamental is 4/pi of its peak; sampled at
// n points a period the odd harmonics fold onto it, giving 4 / (n sin(pi/n))
// (1.307 at n = 8, 4/pi as n grows). Z = peak / I, less the series resistor.
double impedanceKOhm(const double* uv, int n, double rate) {
    const double perPeriod = rate / kLeadOffHz;
    n -= n % static_cast<int>(std::lround(perPeriod));
    if (n < perPeriod || perPeriod < 2) return std::numeric_limits<double>::quiet_NaN();
    double mean = 0, slope = 0, tMean = (n - 1) / 2.0, tt = 0;
    for (int k = 0; k < n; ++k) mean += uv[k];
    mean /= n;
    for (int k = 0; k < n; ++k) {
        slope += (k - tMean) * (uv[k] - mean);
        tt += (k - tMean) * (k - tMean);
    }
    slope /= tt;
    double re = 0, im = 0;
    for (int k = 0; k < n; ++k) {
        const double x = uv[k] - mean - slope * (k - tMean);
        const double ph = 2 * M_PI * k / perPeriod;
        re += x * std::cos(ph);
        im += x * std::sin(ph);
    }
    const double fundamentalUv = 2 * std::hypot(re, im) / n;
    const double peakUv = fundamentalUv * perPeriod * std::sin(M_PI / perPeriod) / 4;
    return (peakUv * 1e-6 / kLeadOffAmps - kSeriesOhms) / 1e3;
}

int measureImpedance(Session& s, const ImpedanceArgs& a, std::vector<ElectrodeImpedance>& out) {
    auto& drv = s.driver();
    drv.rebuildChnGeom();
    const double rate = s.sampleRate();
    const int perBoard = s.config().m_linkType == 7 ? 16 : 8;
    const int boards = s.boards();
    const int dwell = a.dwellMs < 1000 ? 1000 : a.dwellMs;
    // Up to 8 s of measuring; a longer dwell holds the current on first.
    const std::int64_t block = std::llround(kBlockS * rate);
    const std::int64_t blocks = std::clamp<std::int64_t>(
        static_cast<std::int64_t>((dwell / 1000.0 - kSettleS) / kBlockS), 1, kMaxBlocks);
    const std::int64_t window = blocks * block;
    const std::int64_t settle = std::llround(std::max(kSettleS, dwell / 1000.0 - blocks * kBlockS) * rate);
    // A ring long enough that a window is still in it however late we look.
    const std::int64_t ring = window + static_cast<std::int64_t>(rate) * 20;
    if (!s.startMonitor(ring)) return kExitFailed;
    CMeAcqTrialzq* trial = drv.m_pTrial;
    std::vector<Electrode> electrodes;
    for (int c = 0; trial && c < trial->getTotalChannel(); ++c) {
        CMeAcgChannelzq* ch = trial->getChannel(c);
        if (ch->isEEGChannel() && ch->m_boardIndex >= 0 && ch->m_boardIndex < boards && ch->m_pin >= 0 &&
            ch->m_pin < perBoard)
            electrodes.push_back({ch, ch->m_boardIndex, ch->m_pin});
    }
    progress("impedance: " + std::to_string(electrodes.size()) + " electrodes on " + std::to_string(boards) +
             " board(s), pin by pin on every board at once, about " +
             std::to_string(perBoard * (dwell + 100) / 1000) + " s");
    auto& data = s.data();
    std::vector<double> buf(static_cast<size_t>(window));
    // The stream's own pace sets every wait: samples counted, looked at often.
    auto waitFor = [&](std::int64_t count) {
        const platform::Deadline give(platform::clock(), static_cast<std::int64_t>(count / rate * 3e6) + 5'000'000);
        std::int64_t start = samplesSoFar(data), now = start;
        while (!g_interrupted && s.acquiring() && !give.passed() && (now = samplesSoFar(data)) < start + count)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return now >= start + count ? now : -1;
    };
    bool lost = false;
    int pin = 0;
    int retries = 0;  // of this pin
    for (; pin < perBoard && !g_interrupted && !lost; ++pin) {
        for (int b = 0; b < boards; ++b) (void)drv.impedanceMeasureStart(b * perBoard + pin, a.mode, 1);
        const std::int64_t from = waitFor(settle);
        std::vector<std::uint64_t> gaps;
        for (int b = 0; b < boards; ++b) gaps.push_back(drv.m_dongles[static_cast<size_t>(b)]->m_statGaps.load());
        const std::int64_t to = from < 0 ? -1 : waitFor(window);
        // Losses within the window only: the commands that follow take their own waits.
        for (int b = 0; b < boards; ++b)
            gaps[static_cast<size_t>(b)] = drv.m_dongles[static_cast<size_t>(b)]->m_statGaps.load() - gaps[static_cast<size_t>(b)];
        // Off again whatever happened, before anything else.
        for (int b = 0; b < boards; ++b) (void)drv.impedanceMeasureStop(b * perBoard + pin, 1);
        if (to < 0 || samplesSoFar(data) - from > ring) {
            lost = !g_interrupted;
            break;
        }
        // A moment's loss (a busy USB hub, a starved reader) is measured again, twice at most.
        const bool someLost = std::any_of(gaps.begin(), gaps.end(), [&](std::uint64_t g) {
            return g * 4 > static_cast<std::uint64_t>(window);
        });
        if (someLost && retries < 2) {
            ++retries, --pin;
            continue;
        }
        retries = 0;
        for (Electrode& e : electrodes) {
            // A board that lost a good part of the window gives no value rather than one
            // made of held samples.
            const std::uint64_t lostHere = gaps[static_cast<size_t>(e.board)];
            if (e.pin != pin || lostHere * 4 > static_cast<std::uint64_t>(window)) continue;
            for (std::int64_t k = 0; k < window; ++k)
                buf[static_cast<size_t>(k)] =
                    std::atomic_ref<double>(e.ch->m_pValues[(from + k) % ring]).load(std::memory_order_relaxed);
            e.kOhm = impedanceKOhm(buf.data(), static_cast<int>(window), rate);
        }
    }
    s.stop();
    progressDone();
    out.clear();
    for (const Electrode& e : electrodes)
        out.push_back({acqhost::standardElectrodeName(platform::narrow(e.ch->m_label.str())), e.board, e.pin, e.kOhm});
    if (g_interrupted) {
        error("impedance measurement stopped at pin " + std::to_string(pin + 1) + " of " + std::to_string(perBoard) +
              "; no test current is left on");
        return kExitInterrupted;
    }
    if (lost) {
        error("impedance: the boards stopped sending while pin " + std::to_string(pin + 1) +
              " was measured; no test current is left on");
        return kExitFailed;
    }
    return kExitOk;
}

int runImpedance(const SessionOptions& opts, const ImpedanceArgs& a) {
    Session s(opts);
    if (!s.connect()) return kExitFailed;
    installInterruptHandler();
    std::vector<ElectrodeImpedance> electrodes;
    if (const int status = measureImpedance(s, a, electrodes); status != kExitOk) return status;
    if (console().json) {
        std::vector<std::string> items;
        for (const ElectrodeImpedance& e : electrodes)
            items.push_back(JsonObject()
                                .add("label", e.label)
                                .add("board", e.board + 1)
                                .add("pin", e.pin + 1)
                                .add("kohm", e.kOhm)
                                .add("rating", rating(e.kOhm, a))
                                .str());
        printJson(JsonObject()
                      .add("mode", a.mode)
                      .add("good_kohm_max", a.goodKOhm)
                      .add("fair_kohm_max", a.fairKOhm)
                      .addRaw("electrodes", jsonArray(items))
                      .str());
        return missing(electrodes);
    }
    std::printf("%-8s %5s %3s %9s  %s\n", "label", "board", "pin", "kOhm", "rating");
    for (const ElectrodeImpedance& e : electrodes) {
        char kOhm[16] = "        -";
        if (std::isfinite(e.kOhm)) std::snprintf(kOhm, sizeof kOhm, "%9.1f", e.kOhm);
        std::printf("%-8s %5d %3d %s  %s\n", e.label.c_str(), e.board + 1, e.pin + 1,
                    kOhm, rating(e.kOhm, a).c_str());
    }
    return missing(electrodes);
}

}  // namespace app
