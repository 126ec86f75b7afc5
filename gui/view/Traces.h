// What the window keeps of each channel: rows taken from the data set as they
// arrive, filtered for display, folded into min/max per pixel column, and the
// recent raw values for the spectrum. Free of Qt so the benchmark and the
// tests can drive it without a window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/AcqFramework.h"

namespace view {

// A second-order section (direct form II transposed).
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double z1 = 0, z2 = 0;
    double step(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    static Biquad notch(double hz, double rate, double q);
    static Biquad highPass(double hz, double rate);
    static Biquad lowPass(double hz, double rate);
};

struct FilterSettings {
    double notchHz = 0;  // 0, 50 or 60
    double lowHz = 0;    // band-pass edges; 0: that edge off
    double highHz = 0;
    bool operator==(const FilterSettings&) const = default;
};

// The display filter of one channel.
class DisplayFilter {
public:
    void configure(const FilterSettings& f, double rate);
    double step(double x) {
        for (Biquad& s : stages_) x = s.step(x);
        return x;
    }

private:
    std::vector<Biquad> stages_;
};

struct Column {
    float lo = 0, hi = 0;
};

// One channel as the window keeps it.
struct Trace {
    std::string label;
    int board = 0, pin = 0;
    // Where the head view draws it: unit disc seen from above, nose up
    // (right ear at +x, nose at -y).
    double headX = 0, headY = 0;
    bool hasPosition = false;
    DisplayFilter filter;
    std::vector<float> filtered;  // ring of filtered values, the longest time scale
    std::vector<float> raw;       // ring of raw values for the spectrum
    std::vector<Column> columns;  // ring of finished pixel columns (Traces::keptColumns)
    Column& column(std::int64_t ci) { return columns[static_cast<size_t>(ci % static_cast<std::int64_t>(columns.size()))]; }
    const Column& column(std::int64_t ci) const { return columns[static_cast<size_t>(ci % static_cast<std::int64_t>(columns.size()))]; }
    Column open{};
    bool openEmpty = true;
    double sumSq = 0;  // running mean-square of filtered values for the head's RMS
};

// Where the head view draws an electrode of the given label and template
// position (unit disc as in Trace); false when no template places it.
bool headPosition(const std::wstring& label, double x, double y, double z, double& hx, double& hy);

// Reads the rows the data set holds, from any thread that is not the reading
// loop, without ever making that loop wait: the loop is the only writer and
// publishes how far it got; a reader that fell more than a trial behind skips
// ahead. Nothing of the trials is kept between two polls, and a poll holds
// the data set's rows so that none is given back while it copies.
class RowFeed {
public:
    explicit RowFeed(CMeAcqDatazq& data) : data_(data) {}
    // Rows written so far since the acquisition started (all trials).
    std::int64_t rowsWritten() const;
    // Copies the rows not yet read of the given channels, row by row, into
    // out (channels.size() values per row); returns the rows, at most maxRows.
    // Rows that were overwritten or given back by the recording file before
    // they could be read are counted in skipped().
    int poll(const std::vector<int>& channels, std::vector<double>& out, int maxRows);
    void restart() { next_ = 0; }
    std::int64_t next() const { return next_; }
    std::int64_t skipped() const { return skipped_; }

private:
    CMeAcqDatazq& data_;
    std::int64_t next_ = 0;
    std::int64_t skipped_ = 0;
};

// Every EEG channel of every board, grouped by board, plus the markers.
class Traces {
public:
    static constexpr double kMaxSeconds = 30;
    static constexpr int kSpectrumSize = 512;

    // Takes the channel list of the data set's first trial.
    void attach(CMeAcqDatazq& data, double rate);
    void detach();
    bool attached() const { return feed_ != nullptr; }

    // Pixel columns and seconds shown; a change refolds what is kept.
    void setView(int columns, double seconds);
    void setFilters(const FilterSettings& f);
    const FilterSettings& filters() const { return filters_; }

    // Takes what arrived; returns the rows taken.
    int update();

    int channels() const { return static_cast<int>(traces_.size()); }
    const Trace& trace(int i) const { return traces_[static_cast<size_t>(i)]; }
    int boards() const { return boards_; }
    double rate() const { return rate_; }
    double seconds() const { return seconds_; }
    int columns() const { return columns_; }
    // Columns each trace keeps: one more than are shown, so the leftmost
    // shown is drawn joined to the one before, as it was when it came.
    int keptColumns() const { return columns_ + 1; }
    // Columns finished so far (the newest is trace(c).column(doneColumns - 1)).
    std::int64_t doneColumns() const { return doneCols_; }
    std::int64_t rows() const { return rows_; }
    // Rows taken one after another since the last rows skipped (all, when
    // none were): the window fell a trial behind or the file gave them back.
    std::int64_t rowsSinceGap() const { return rows_ - gapEnd_; }
    // Row numbers (since the start) where a marker was seen.
    const std::vector<std::int64_t>& markers() const { return markers_; }
    void addMarker(std::int64_t row) { markers_.push_back(row); }
    double rms(int ch) const;

    // Log10 power of the last kSpectrumSize raw values (mean removed, Hann
    // window) of the channel, or the mean over all channels when ch < 0; bin k
    // is k * rate / kSpectrumSize Hz.
    std::vector<double> spectrum(int ch) const;

private:
    void take(const double* row);
    void refold();

    std::unique_ptr<RowFeed> feed_;
    std::vector<Trace> traces_;
    std::vector<int> sources_;  // data-set channel of each trace, then the marker channel
    int markerSource_ = -1;
    double lastMarker_ = 0;
    int boards_ = 0;
    double rate_ = 250;
    double seconds_ = 10;
    int columns_ = 600;
    double rowsPerColumn_ = 1;
    FilterSettings filters_;
    std::int64_t rows_ = 0;      // rows taken (skips included)
    std::int64_t gapEnd_ = 0;    // the row after the last skipped
    std::int64_t doneCols_ = 0;
    std::vector<std::int64_t> markers_;
    std::vector<double> buf_;
};

}  // namespace view
