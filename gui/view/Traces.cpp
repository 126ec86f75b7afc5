#include "gui/view/Traces.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cwctype>
#include <limits>

#include "acqhost/ChannelLabels.h"
#include "geometry/ElectrodeTables.h"

namespace view {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Biquad fromRbj(double b0, double b1, double b2, double a0, double a1, double a2) {
    Biquad q;
    q.b0 = b0 / a0, q.b1 = b1 / a0, q.b2 = b2 / a0, q.a1 = a1 / a0, q.a2 = a2 / a0;
    return q;
}
bool sameName(const wchar_t* a, const std::wstring& b) {
    size_t i = 0;
    for (; a[i] && i < b.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return !a[i] && i == b.size();
}

using Vec3 = std::array<double, 3>;

// The templates of 10-05 names on a sphere (front, left, up) give every
// label they know one place whatever table its channel came from; the older
// names of the temporal row are the same electrodes.
bool onSphere(const std::wstring& label, Vec3& v) {
    std::wstring name = label;
    static const std::pair<const wchar_t*, const wchar_t*> older[] = {
        {L"T3", L"T7"}, {L"T4", L"T8"}, {L"T5", L"P7"}, {L"T6", L"P8"}};
    for (const auto& [was, is] : older)
        if (sameName(was, name)) name = is;
    for (int table : {7, 4, 6}) {  // T8, T5, T7
        const ELCTD_TABLE t = electrodeTable(table);
        for (int r = 0; r < t.count; ++r)
            if (sameName(t.rows[r].name, name)) return v = {t.rows[r].x, t.rows[r].y, t.rows[r].z}, true;
    }
    return false;
}

// The 10-20 templates' frame (x left, y up, z back) is an affine image of
// the 10-05 positions: fitted once onto the sphere's frame by least squares
// over the names both know.
Vec3 fromTenTwenty(const Vec3& a) {
    static const std::array<Vec3, 4> m = [] {
        double ata[4][4] = {}, atb[4][3] = {};
        const ELCTD_TABLE t = electrodeTable(1);  // T2
        for (int r = 0; r < t.count; ++r) {
            Vec3 b;
            if (!onSphere(t.rows[r].name, b)) continue;
            const double x[4] = {t.rows[r].x, t.rows[r].y, t.rows[r].z, 1};
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 4; ++j) ata[i][j] += x[i] * x[j];
                for (int k = 0; k < 3; ++k) atb[i][k] += x[i] * b[static_cast<size_t>(k)];
            }
        }
        for (int c = 0; c < 4; ++c) {  // Gauss-Jordan with partial pivoting
            int p = c;
            for (int r = c + 1; r < 4; ++r)
                if (std::abs(ata[r][c]) > std::abs(ata[p][c])) p = r;
            std::swap(ata[c], ata[p]);
            std::swap(atb[c], atb[p]);
            for (int r = 0; r < 4; ++r) {
                if (r == c || ata[c][c] == 0) continue;
                const double f = ata[r][c] / ata[c][c];
                for (int j = 0; j < 4; ++j) ata[r][j] -= f * ata[c][j];
                for (int k = 0; k < 3; ++k) atb[r][k] -= f * atb[c][k];
            }
        }
        std::array<Vec3, 4> out{};
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 3; ++k) out[static_cast<size_t>(i)][static_cast<size_t>(k)] = ata[i][i] != 0 ? atb[i][k] / ata[i][i] : 0;
        return out;
    }();
    Vec3 v{};
    for (size_t k = 0; k < 3; ++k) v[k] = m[0][k] * a[0] + m[1][k] * a[1] + m[2][k] * a[2] + m[3][k];
    return v;
}

}  // namespace

Biquad Biquad::notch(double hz, double rate, double q) {
    const double w = 2 * kPi * hz / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w);
    return fromRbj(1, -2 * c, 1, 1 + alpha, -2 * c, 1 - alpha);
}

Biquad Biquad::highPass(double hz, double rate) {
    const double w = 2 * kPi * hz / rate, alpha = std::sin(w) / std::sqrt(2.0), c = std::cos(w);
    return fromRbj((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

Biquad Biquad::lowPass(double hz, double rate) {
    const double w = 2 * kPi * hz / rate, alpha = std::sin(w) / std::sqrt(2.0), c = std::cos(w);
    return fromRbj((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

void DisplayFilter::configure(const FilterSettings& f, double rate) {
    stages_.clear();
    const double nyquist = rate / 2;
    if (f.notchHz > 0 && f.notchHz < nyquist) stages_.push_back(Biquad::notch(f.notchHz, rate, 30));
    if (f.lowHz > 0 && f.lowHz < nyquist) stages_.push_back(Biquad::highPass(f.lowHz, rate));
    if (f.highHz > 0 && f.highHz < nyquist) stages_.push_back(Biquad::lowPass(f.highHz, rate));
}

// A name the sphere does not know (A1, FT7 of the 10-20 tables, the nets'
// E17) takes the position it came with, seen in the frame of the table that
// holds that very row.
bool headPosition(const std::wstring& label, double x, double y, double z, double& hx, double& hy) {
    Vec3 v{};
    bool found = onSphere(label, v);
    for (int table = 0; table < ELCTD_TABLE_COUNT && !found; ++table) {
        const ELCTD_TABLE t = electrodeTable(table);
        for (int r = 0; r < t.count && !found; ++r) {
            const ELCTD_POS_NAME_PXYZ& e = t.rows[r];
            if (!sameName(e.name, label) || e.x != x || e.y != y || e.z != z) continue;
            found = true;
            if (table >= 8) v = {e.y, -e.x, e.z};  // the nets: x right, y front, z up
            else v = fromTenTwenty({e.x, e.y, e.z});  // the sphere's own tables were searched above
        }
    }
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!found || len <= 0) return false;
    // The angle from the vertex becomes the distance from the centre.
    const double rho = std::acos(std::clamp(v[2] / len, -1.0, 1.0)) / (kPi / 2);
    const double az = std::atan2(v[1], v[0]);
    hx = -std::sin(az) * rho;
    hy = -std::cos(az) * rho;
    return true;
}

// ------------------------------------------------------------------ RowFeed

std::int64_t RowFeed::rowsWritten() const {
    // The loop's own count: trial index and sample, read apart, race a switch.
    return data_.m_rowsOut.load(std::memory_order_acquire);
}

int RowFeed::poll(const std::vector<int>& channels, std::vector<double>& out, int maxRows) {
    const std::int64_t S = data_.getMEGRecordInfozq()->m_samplesPerTrial;
    if (S < 1) return 0;
    const std::int64_t written = rowsWritten();
    // A monitor trial is written round and round: keep clear of the slots
    // the loop is about to overwrite.
    const std::int64_t reach = S - std::max<std::int64_t>(S / 8, 1);
    if (written - next_ > reach) {
        skipped_ += written - reach - next_;
        next_ = written - reach;
    }
    const bool record = data_.m_recordFlag != 0;
    // A recording whose file gives rows back: nothing is given back while we
    // copy, and what went already is skipped, not read as zeros.
    const std::unique_lock<std::mutex> hold = data_.holdRows();
    const std::int64_t gone = record ? std::min(written, data_.releasedRows()) : 0;
    if (next_ < gone) skipped_ += gone - next_, next_ = gone;
    const size_t nc = channels.size();
    out.clear();
    int got = 0;
    std::vector<double*> cols(nc, nullptr);
    int colsTrial = -1;
    while (next_ < written && got < maxRows) {
        const int t = record ? static_cast<int>(next_ / S) : 0;
        if (t != colsTrial) {
            CMeAcqTrialzq* trial = data_.peekTrial(t);
            if (!trial || trial->getTotalSample(-1) < S) {  // given back already: on to the next
                const std::int64_t to = std::min(written, (next_ / S + 1) * S);
                skipped_ += to - next_;
                next_ = to;
                continue;
            }
            for (size_t i = 0; i < nc; ++i) {
                const int c = channels[i];
                cols[i] = c >= 0 && c < trial->getTotalChannel() ? trial->getChannel(c)->m_pValues : nullptr;
            }
            colsTrial = t;
        }
        const std::int64_t idx = next_ % S;
        for (size_t i = 0; i < nc; ++i)
            // Written by the loop as we read: atomically on both sides.
            out.push_back(cols[i] ? std::atomic_ref<double>(cols[i][idx]).load(std::memory_order_relaxed) : 0.0);
        ++next_;
        ++got;
    }
    return got;
}

// ------------------------------------------------------------------ Traces

void Traces::attach(CMeAcqDatazq& data, double rate) {
    detach();
    rate_ = rate > 0 ? rate : 250;
    CMeAcqTrialzq* trial = data.getTrial(0);
    if (!trial) return;
    for (int c = 0; c < trial->getTotalChannel(); ++c) {
        const CMeAcgChannelzq* ch = trial->getChannel(c);
        if (ch->isEEGChannel()) {
            Trace t;
            t.label = acqhost::standardElectrodeName(CStringA(ch->m_label).GetString());
            t.board = ch->m_boardIndex;
            t.pin = ch->m_pin;
            t.hasPosition = headPosition(ch->m_label.str(), ch->m_elcX, ch->m_elcY, ch->m_elcZ, t.headX, t.headY);
            traces_.push_back(std::move(t));
            sources_.push_back(c);
            boards_ = std::max(boards_, ch->m_boardIndex + 1);
        } else if (ch->m_label == CString(L"Marker")) {
            markerSource_ = c;
        }
    }
    // Grouped by board, pins in order.
    std::vector<size_t> order(traces_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return std::pair(traces_[a].board, traces_[a].pin) < std::pair(traces_[b].board, traces_[b].pin);
    });
    std::vector<Trace> t2;
    std::vector<int> s2;
    for (size_t i : order) t2.push_back(std::move(traces_[i])), s2.push_back(sources_[i]);
    traces_ = std::move(t2);
    sources_ = std::move(s2);
    sources_.push_back(markerSource_);
    const size_t keep = static_cast<size_t>(kMaxSeconds * rate_);
    for (Trace& t : traces_) {
        t.filtered.assign(keep, kNaN);
        t.raw.assign(kSpectrumSize, 0);
        t.filter.configure(filters_, rate_);
    }
    feed_ = std::make_unique<RowFeed>(data);
    rows_ = gapEnd_ = 0;
    markers_.clear();
    refold();
}

void Traces::detach() {
    feed_.reset();
    traces_.clear();
    sources_.clear();
    markerSource_ = -1;
    lastMarker_ = 0;
    boards_ = 0;
}

void Traces::setView(int columns, double seconds) {
    columns = std::max(columns, 16);
    seconds = std::clamp(seconds, 1.0, kMaxSeconds);
    if (columns == columns_ && seconds == seconds_) return;
    columns_ = columns;
    seconds_ = seconds;
    refold();
}

void Traces::setFilters(const FilterSettings& f) {
    if (f == filters_) return;
    filters_ = f;
    for (Trace& t : traces_) t.filter.configure(f, rate_);
}

void Traces::refold() {
    rowsPerColumn_ = seconds_ * rate_ / columns_;
    doneCols_ = static_cast<std::int64_t>(static_cast<double>(rows_) / rowsPerColumn_);
    const std::int64_t keep = traces_.empty() ? 0 : static_cast<std::int64_t>(traces_[0].filtered.size());
    const std::int64_t oldest = std::max<std::int64_t>(0, rows_ - keep);
    for (Trace& t : traces_) {
        t.columns.assign(static_cast<size_t>(keptColumns()), Column{1, 0});
        t.openEmpty = true;
        for (std::int64_t c = std::max<std::int64_t>(0, doneCols_ - keptColumns()); c <= doneCols_; ++c) {
            const auto from = std::max(oldest, static_cast<std::int64_t>(std::ceil(c * rowsPerColumn_)));
            const auto to = std::min(rows_, static_cast<std::int64_t>(std::ceil((c + 1) * rowsPerColumn_)));
            Column col{1, 0};
            bool any = false;
            for (std::int64_t r = from; r < to; ++r) {
                const float v = t.filtered[static_cast<size_t>(r % keep)];
                if (std::isnan(v)) continue;
                col = any ? Column{std::min(col.lo, v), std::max(col.hi, v)} : Column{v, v};
                any = true;
            }
            if (c < doneCols_) t.column(c) = col;
            else t.open = col, t.openEmpty = !any;
        }
    }
}

int Traces::update() {
    if (!feed_) return 0;
    const std::int64_t skippedBefore = feed_->skipped();
    // A frame takes at most the longest time scale; more was skipped anyway.
    const int got = feed_->poll(sources_, buf_, static_cast<int>(kMaxSeconds * rate_));
    const std::int64_t skipped = feed_->skipped() - skippedBefore;
    if (skipped > 0) {
        // Nothing to draw where rows were skipped.
        for (Trace& t : traces_) t.openEmpty = true, t.open = {1, 0};
        rows_ += skipped;
        gapEnd_ = rows_;
        const std::int64_t cols = static_cast<std::int64_t>(static_cast<double>(rows_) / rowsPerColumn_);
        for (std::int64_t c = std::max(doneCols_, cols - keptColumns()); c < cols; ++c)
            for (Trace& t : traces_) t.column(c) = {1, 0};
        doneCols_ = cols;
        const std::int64_t gap = std::min<std::int64_t>(skipped, static_cast<std::int64_t>(traces_.empty() ? 0 : traces_[0].filtered.size()));
        for (Trace& t : traces_)
            for (std::int64_t r = rows_ - gap; r < rows_; ++r) t.filtered[static_cast<size_t>(r) % t.filtered.size()] = kNaN;
    }
    const size_t width = sources_.size();
    for (int r = 0; r < got; ++r) take(&buf_[static_cast<size_t>(r) * width]);
    return got;
}

void Traces::take(const double* row) {
    const auto col = static_cast<std::int64_t>(static_cast<double>(rows_) / rowsPerColumn_);
    if (col > doneCols_) {
        for (Trace& t : traces_) {
            const Column done = t.openEmpty ? Column{1, 0} : t.open;
            for (std::int64_t c = doneCols_; c < col && c < doneCols_ + keptColumns(); ++c) t.column(c) = done;
            t.openEmpty = true;
        }
        doneCols_ = col;
    }
    const size_t keep = traces_.empty() ? 1 : traces_[0].filtered.size();
    for (size_t i = 0; i < traces_.size(); ++i) {
        Trace& t = traces_[i];
        const double raw = row[i];
        const auto v = static_cast<float>(t.filter.step(raw));
        t.filtered[static_cast<size_t>(rows_) % keep] = v;
        t.raw[static_cast<size_t>(rows_ % kSpectrumSize)] = raw;
        t.sumSq = t.sumSq * 0.995 + 0.005 * static_cast<double>(v) * v;
        t.open = t.openEmpty ? Column{v, v} : Column{std::min(t.open.lo, v), std::max(t.open.hi, v)};
        t.openEmpty = false;
    }
    if (markerSource_ >= 0) {
        const double m = row[traces_.size()];
        if (m != 0 && m != lastMarker_) markers_.push_back(rows_);
        lastMarker_ = m;
    }
    ++rows_;
}

double Traces::rms(int ch) const { return std::sqrt(trace(ch).sumSq); }

std::vector<double> Traces::spectrum(int ch) const {
    constexpr int N = kSpectrumSize;
    struct Plan {
        double* in = fftw_alloc_real(N);
        fftw_complex* out = fftw_alloc_complex(N / 2 + 1);
        fftw_plan plan = fftw_plan_dft_r2c_1d(N, in, out, FFTW_ESTIMATE);
        ~Plan() {
            fftw_destroy_plan(plan);
            fftw_free(in);
            fftw_free(out);
        }
    };
    // Planning is not thread-safe in FFTW: one plan, made and used on the
    // window's thread.
    static thread_local Plan p;
    static const std::vector<double> hann = [] {
        std::vector<double> w(N);
        for (int i = 0; i < N; ++i) w[static_cast<size_t>(i)] = 0.5 - 0.5 * std::cos(2 * kPi * i / (N - 1));
        return w;
    }();
    std::vector<double> power(N / 2 + 1, 0.0);
    int n = 0;
    for (int c = ch < 0 ? 0 : ch; c < (ch < 0 ? channels() : ch + 1); ++c) {
        const Trace& t = trace(c);
        double mean = 0;
        for (double v : t.raw) mean += v;
        mean /= N;
        for (int i = 0; i < N; ++i) p.in[i] = (t.raw[static_cast<size_t>((rows_ + i) % N)] - mean) * hann[static_cast<size_t>(i)];
        fftw_execute(p.plan);
        for (int k = 0; k <= N / 2; ++k) power[static_cast<size_t>(k)] += p.out[k][0] * p.out[k][0] + p.out[k][1] * p.out[k][1];
        ++n;
    }
    // µV²/Hz with the Hann window's power (0.375) taken out.
    const double scale = 2.0 / (rate_ * N * 0.375) / std::max(n, 1);
    for (double& v : power) v = std::log10(v * scale + 1e-12);
    return power;
}

}  // namespace view
