// The window's panels: traces, spectrum, head and the boards' status strip.
// Each paints from Traces (or the driver's counts) and keeps no data itself.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "gui/view/Traces.h"

class CDriveOpnBciMutiBoardzq;

namespace view {

class TraceView : public QWidget {
public:
    explicit TraceView(const Traces& t, QWidget* parent = nullptr);
    // µV from the centre of a lane to its edge; 0: automatic.
    void setScaleUv(double uv) { scaleUv_ = uv; }
    double shownScaleUv() const { return shownUv_; }
    // The pixel rows (top, bottom) the channel's lane covers.
    std::pair<int, int> lane(int ch) const;
    // Where the traces go; a frame repaints just this.
    QRect plotRect() const;
    // The next paint draws every column, labels and caption again.
    void redrawAll() {
        full_ = true;
        update();
    }
    // Takes the columns finished since the last frame onto the screen.
    void showStep();
    QSize sizeHint() const override { return {900, 600}; }
    static constexpr int kLabelWidth = 64;
    static constexpr int kRulerHeight = 5;  // seconds, under the lanes

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // Brings the kept image up to date; returns the columns it moved by, or
    // -1 when it was drawn anew.
    int step();
    void follow();
    QString captionText() const;
    bool needsFullRedraw(int W, int H);
    void drawColumns(std::int64_t first, int x0, int x1);

    const Traces& t_;
    double scaleUv_ = 0, shownUv_ = 100, autoUv_ = 100;
    std::vector<double> mids_;
    std::int64_t followedRows_ = 0;
    // What the kept image shows: it scrolls while none of this changes.
    QImage plot_;
    bool full_ = true;
    std::int64_t drawnDone_ = 0;
    std::vector<double> drawnMids_;
    std::array<double, 6> drawnKey_{};
    size_t drawnMarkers_ = 0;
    int cut_ = 0;  // the image column at the plot's left edge
    // The ink of each image column and lane, and per pixel row the columns
    // inked there: rows at 0 before and after a frame need not move.
    struct Span {
        std::int16_t top = 0, bottom = -1;
    };
    std::vector<Span> spans_;
    std::vector<int> inkCount_;
    std::vector<char> shownInk_;
    bool markerShown_ = false;
    QString caption_;
};

class SpectrumView : public QWidget {
public:
    explicit SpectrumView(const Traces& t, QWidget* parent = nullptr);
    void setChannel(int ch) { ch_ = ch; }  // < 0: mean of all
    // Recomputed at most this often; the spectrum changes slowly.
    void refresh();
    const std::vector<double>& power() const { return power_; }
    QSize sizeHint() const override { return {320, 220}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    const Traces& t_;
    int ch_ = -1;
    std::vector<double> power_;
};

enum class HeadReadout { Rms, Impedance, Lost };

class HeadView : public QWidget {
public:
    HeadView(const Traces& t, const CDriveOpnBciMutiBoardzq* drv, QWidget* parent = nullptr);
    void setReadout(HeadReadout r) { readout_ = r; update(); }
    void setImpedance(std::vector<double> kOhm) { kOhm_ = std::move(kOhm); update(); }
    QSize sizeHint() const override { return {320, 320}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    const Traces& t_;
    const CDriveOpnBciMutiBoardzq* drv_;
    HeadReadout readout_ = HeadReadout::Rms;
    std::vector<double> kOhm_;
};

// One cell per board: port, radio channel, packets/s, lost, rejected,
// reconnects; red while the board is silent.
class StatusStrip : public QWidget {
public:
    explicit StatusStrip(QWidget* parent = nullptr) : QWidget(parent) {}
    void setDriver(const CDriveOpnBciMutiBoardzq* drv);
    // Once a second is enough for rates a person reads.
    void refresh(double nowS);
    bool silent(int board) const;
    QColor colourOf(int board) const;
    QRect cell(int board) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override { updateGeometry(); }

private:
    struct Cell {
        QString port;
        int radio = 0;
        double pps = 0;
        unsigned long long lost = 0, rejected = 0, reconnects = 0, packets = 0;
        bool silent = false;
    };
    int perRow() const;
    const CDriveOpnBciMutiBoardzq* drv_ = nullptr;
    std::vector<Cell> cells_;
    double lastS_ = -1;
};

}  // namespace view
