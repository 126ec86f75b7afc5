#include "gui/view/ViewWidgets.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPaintEvent>
#include <algorithm>
#include <cmath>

#include "driver/DriveOpnBciMutiBoardzq.h"

namespace view {

namespace {
constexpr double kPi = 3.14159265358979323846;

QRgb boardColour(int board) { return board % 2 ? qRgb(20, 90, 40) : qRgb(20, 40, 140); }

// The next of 1, 2, 5 × 10^k at or above v.
double niceAbove(double v) {
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= v) return m * p;
    return 10 * p;
}

QString uvText(double uv) { return uv >= 1000 ? QStringLiteral("%1 mV").arg(uv / 1000) : QStringLiteral("%1 µV").arg(uv); }
}  // namespace

// ------------------------------------------------------------------ traces

TraceView::TraceView(const Traces& t, QWidget* parent) : QWidget(parent), t_(t) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(300, 200);
}

std::pair<int, int> TraceView::lane(int ch) const {
    const int n = std::max(t_.channels(), 1);
    const double h = static_cast<double>(height() - 16 - kRulerHeight) / n;
    return {static_cast<int>(ch * h), static_cast<int>((ch + 1) * h) - 1};
}

QRect TraceView::plotRect() const { return {kLabelWidth, 0, std::max(width() - kLabelWidth, 1), std::max(height() - 16, 1)}; }

void TraceView::follow() {
    const int n = t_.channels(), cols = t_.columns();
    const std::int64_t done = t_.doneColumns();
    const std::int64_t first = done - std::min(cols, plotRect().width());
    // Centres and the automatic scale (the median spread) follow the signal
    // four times a second of it: a look at every column costs more than the
    // drawing. A stopped window keeps them, and so its image.
    const std::int64_t rows = t_.rows();
    if (mids_.size() == static_cast<size_t>(n) && rows >= followedRows_ && rows - followedRows_ < t_.rate() / 4) return;
    followedRows_ = rows;
    mids_.assign(static_cast<size_t>(n), 0);
    std::vector<double> spreads;
    for (int c = 0; c < n; ++c) {
        const Trace& tr = t_.trace(c);
        double sum = 0, lo = 1e300, hi = -1e300;
        int k = 0;
        for (std::int64_t x = std::max<std::int64_t>(first, 0); x < done; ++x) {
            const Column& col = tr.column(x);
            if (col.lo > col.hi) continue;
            sum += (col.lo + col.hi) / 2.0, lo = std::min<double>(lo, col.lo), hi = std::max<double>(hi, col.hi);
            ++k;
        }
        const double mid = k ? sum / k : 0;
        mids_[static_cast<size_t>(c)] = mid;
        if (k) spreads.push_back(std::max(hi - mid, mid - lo));
    }
    if (!spreads.empty()) {
        std::nth_element(spreads.begin(), spreads.begin() + static_cast<long>(spreads.size() / 2), spreads.end());
        autoUv_ = std::clamp(niceAbove(std::max(spreads[spreads.size() / 2], 1e-9)), 10.0, 10000.0);
    }
}

bool TraceView::needsFullRedraw(int W, int H) {
    const int n = t_.channels();
    bool full = full_ || t_.doneColumns() < drawnDone_;
    // A centre that drifted a little keeps the image; one that left by a few
    // pixels re-centres the lanes.
    bool recentre = drawnMids_.size() != static_cast<size_t>(n);
    for (int c = 0; c < n && !recentre; ++c) {
        const auto [top, bottom] = lane(c);
        const double px = std::abs(mids_[static_cast<size_t>(c)] - drawnMids_[static_cast<size_t>(c)]) *
                          std::max((bottom - top) / 2.0, 0.5) / shownUv_;
        recentre = px > 2;
    }
    if (recentre) drawnMids_ = mids_, full = true;
    const std::array<double, 6> key{double(W), double(H), double(t_.columns()), t_.seconds(), double(n), shownUv_};
    if (key != drawnKey_) drawnKey_ = key, full = true;
    // A marker that lands on columns already drawn.
    const double rpc = t_.seconds() * t_.rate() / t_.columns();
    const auto& marks = t_.markers();
    for (size_t i = std::min(drawnMarkers_, marks.size()); i < marks.size(); ++i)
        full = full || static_cast<std::int64_t>(std::floor(marks[i] / rpc)) < drawnDone_;
    return full;
}

void TraceView::drawColumns(std::int64_t first, int x0, int x1) {
    const int W = plot_.width(), H = plot_.height();
    const int n = t_.channels(), cols = t_.columns();
    // Column ci lives at ci mod W of the image; a range of screen columns is
    // at most two runs of it.
    const auto at = [&](int x) { return static_cast<int>(((first + x) % W + W) % W); };
    const auto runs = [&](auto&& f) {
        const int a = at(x0), len = x1 - x0;
        if (a + len <= W) f(a, a + len);
        else f(a, W), f(0, a + len - W);
    };
    // The columns drawn over leave the screen: their ink no longer counts.
    runs([&](int a, int b) {
        for (size_t i = static_cast<size_t>(a) * n; i < static_cast<size_t>(b) * n; ++i) {
            for (int y = spans_[i].top; y <= spans_[i].bottom; ++y) --inkCount_[static_cast<size_t>(y)];
            spans_[i] = Span{};
        }
    });
    std::vector<QRgb*> rows(static_cast<size_t>(H));
    for (int y = 0; y < H; ++y) {
        QRgb* row = rows[static_cast<size_t>(y)] = reinterpret_cast<QRgb*>(plot_.scanLine(y));
        runs([&](int a, int b) { std::fill(row + a, row + b, qRgb(255, 255, 255)); });
    }
    // Seconds on a ruler under the lanes, not as lines across them: the rows
    // no trace reaches then never change, and a frame leaves them alone.
    const double rpc = t_.seconds() * t_.rate() / cols;
    const auto xOfRow = [&](std::int64_t row) { return static_cast<int>(std::floor(row / rpc) - first); };
    const int ruler = H - kRulerHeight;
    runs([&](int a, int b) { std::fill(rows[static_cast<size_t>(ruler)] + a, rows[static_cast<size_t>(ruler)] + b, qRgb(200, 200, 200)); });
    for (std::int64_t s = static_cast<std::int64_t>(std::floor((first + x0) * rpc / t_.rate())); ; ++s) {
        const int x = xOfRow(static_cast<std::int64_t>(s * t_.rate()));
        if (x >= x1) break;
        if (x >= x0)
            for (int y = ruler; y < H; ++y) rows[static_cast<size_t>(y)][at(x)] = qRgb(110, 110, 110);
    }
    for (std::int64_t m : t_.markers()) {
        const int x = xOfRow(m);
        if (x >= x0 && x < x1)
            for (int y = 0; y < H; ++y) rows[static_cast<size_t>(y)][at(x)] = qRgb(220, 30, 30);
    }
    const std::int64_t oldest = t_.doneColumns() - t_.keptColumns();
    for (int c = 0; c < n; ++c) {
        const Trace& tr = t_.trace(c);
        const auto [top, bottom] = lane(c);
        const int y0 = std::clamp(top, 0, H - 1), y1 = std::clamp(bottom, 0, H - 1);
        if (c > 0 && tr.board != t_.trace(c - 1).board)
            runs([&](int a, int b) { std::fill(rows[static_cast<size_t>(y0)] + a, rows[static_cast<size_t>(y0)] + b, qRgb(150, 150, 150)); });
        const double centre = (top + bottom) / 2.0, half = std::max((bottom - top) / 2.0, 0.5);
        const double k = half / shownUv_, mid = drawnMids_[static_cast<size_t>(c)];
        const QRgb ink = boardColour(tr.board);
        const auto midY = [&](const Column& col) { return centre - ((col.lo + col.hi) / 2.0 - mid) * k; };
        // Joined to the column before, so a slow trace stays a line; the
        // leftmost too, as it was when it came in at the right.
        double prev = NAN;
        if (const std::int64_t before = first + x0 - 1; before >= 0 && before >= oldest) {
            const Column& col = tr.column(before);
            if (col.lo <= col.hi) prev = midY(col);
        }
        for (int x = x0; x < x1; ++x) {
            const std::int64_t ci = first + x;
            if (ci < 0) continue;
            const Column col = tr.column(ci);
            if (col.lo > col.hi) {
                prev = NAN;
                continue;
            }
            double a = centre - (col.hi - mid) * k, b = centre - (col.lo - mid) * k;
            if (!std::isnan(prev)) a = std::min(a, prev), b = std::max(b, prev);
            prev = midY(col);
            const int ya = std::clamp(static_cast<int>(std::floor(a + 0.5)), y0, y1);
            const int yb = std::clamp(static_cast<int>(std::floor(b + 0.5)), y0, y1);
            const int px = at(x);
            for (int y = ya; y <= yb; ++y) rows[static_cast<size_t>(y)][px] = ink;
            spans_[static_cast<size_t>(px) * n + c] = {static_cast<std::int16_t>(ya), static_cast<std::int16_t>(yb)};
            for (int y = ya; y <= yb; ++y) ++inkCount_[static_cast<size_t>(y)];
        }
    }
}

int TraceView::step() {
    const QRect pr = plotRect();
    const int W = pr.width(), H = pr.height();
    // Opaque: drawn with a plain copy, not blended.
    if (plot_.size() != QSize(W, H)) plot_ = QImage(W, H, QImage::Format_RGB32), full_ = true;
    const int cols = t_.columns();
    const std::int64_t done = t_.doneColumns();
    const int shown = std::min(cols, W);
    const std::int64_t first = done - shown;  // the newest column at the right edge
    follow();
    shownUv_ = scaleUv_ > 0 ? scaleUv_ : autoUv_;

    // The image is a ring of columns that scrolls by where it is cut: only
    // the columns finished since the last step are drawn, unless what every
    // column looks like changed.
    const std::int64_t fresh = done - drawnDone_;
    shownInk_.resize(inkCount_.size());
    for (size_t y = 0; y < inkCount_.size(); ++y) shownInk_[y] = inkCount_[y] > 0;
    const std::int64_t shownFirst = drawnDone_ - shown;
    int moved = 0;
    if (needsFullRedraw(W, H) || fresh >= shown) {
        plot_.fill(Qt::white);
        spans_.assign(static_cast<size_t>(W) * t_.channels(), Span{});
        inkCount_.assign(static_cast<size_t>(H), 0);
        drawColumns(first, 0, shown);
        moved = -1;
    } else if (fresh > 0) {
        drawColumns(first, shown - static_cast<int>(fresh), shown);
        moved = static_cast<int>(fresh);
    }
    full_ = false;
    drawnDone_ = done;
    drawnMarkers_ = t_.markers().size();
    cut_ = static_cast<int>((first % W + W) % W);
    // A marker on the screen before or after is a line across every row.
    const double rpc = t_.seconds() * t_.rate() / std::max(cols, 1);
    markerShown_ = false;
    for (std::int64_t m : t_.markers()) {
        const auto x = static_cast<std::int64_t>(std::floor(m / rpc));
        markerShown_ = markerShown_ || (x >= std::min(first, shownFirst) && x < done);
    }
    return moved;
}

void TraceView::showStep() {
    const int moved = step();
    const QRect pr = plotRect();
    if (moved < 0 || moved >= pr.width()) {
        repaint(pr);
    } else if (moved > 0) {
        // What the screen already shows moves left in place, and only the
        // rows some trace reached (and the ruler): the others are white all
        // along. The new columns are copied whole.
        const int H = pr.height();
        std::vector<std::pair<int, int>> bands;
        for (int y = 0; y < H; ++y) {
            const bool move = markerShown_ || y >= H - kRulerHeight || shownInk_[static_cast<size_t>(y)];
            if (!move) continue;
            // Short gaps go with their bands: a move costs more than a few rows.
            if (!bands.empty() && y - bands.back().second <= 8) bands.back().second = y;
            else bands.push_back({y, y});
        }
        for (const auto& [top, bottom] : bands) scroll(-moved, 0, QRect(pr.left(), top, pr.width(), bottom - top + 1));
        repaint(pr.adjusted(pr.width() - moved, 0, 0, 0));
    }
    if (captionText() != caption_) update(0, pr.height(), width(), height() - pr.height());
}

QString TraceView::captionText() const {
    return QStringLiteral("%1 s shown, ±%2 per channel").arg(t_.seconds()).arg(uvText(shownUv_));
}

void TraceView::paintEvent(QPaintEvent* e) {
    // Asked by the window system (shown, uncovered, grabbed): bring the image
    // up to date first when it cannot be used as it is.
    if (full_ || plot_.size() != plotRect().size()) step();
    const QRect pr = plotRect();
    const int W = pr.width(), H = pr.height(), n = t_.channels();
    QPainter p(this);
    // The ring from its cut is the screen from the plot's left edge; copy
    // just what was asked for.
    const QRect want = e->rect() & pr;
    if (!want.isEmpty()) {
        const int x0 = want.left() - kLabelWidth, x1 = want.right() - kLabelWidth + 1;
        const auto piece = [&](int from, int to) {  // screen columns [from, to) of the plot
            const int a = std::max(from, x0), b = std::min(to, x1);
            if (a < b) p.drawImage(kLabelWidth + a, want.top(), plot_, (cut_ + a) % W, want.top(), b - a, want.height());
        };
        piece(0, W - cut_);
        piece(W - cut_, W);
    }
    if (pr.contains(e->rect())) return;
    // Labels and the caption only when asked for or changed: text costs more
    // than the traces.
    caption_ = captionText();
    p.fillRect(0, 0, kLabelWidth, height(), palette().window());
    p.fillRect(kLabelWidth, H, W, height() - H, palette().window());
    QFont f = font();
    f.setPointSizeF(7.5);
    p.setFont(f);
    const int laneH = n ? H / n : H;
    for (int c = 0; c < n; ++c) {
        const Trace& tr = t_.trace(c);
        const auto [top, bottom] = lane(c);
        const bool boardStart = c == 0 || tr.board != t_.trace(c - 1).board;
        if (laneH >= 10) {
            p.drawText(QRect(2, top, kLabelWidth - 4, bottom - top + 1), Qt::AlignVCenter | Qt::AlignLeft,
                       QString::fromStdString(tr.label));
        } else if (boardStart) {
            p.drawText(QRect(2, top, kLabelWidth - 4, 12), Qt::AlignLeft, QStringLiteral("board %1").arg(tr.board + 1));
        }
    }
    p.drawText(QRect(kLabelWidth, H, W, 16), Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

// ------------------------------------------------------------------ spectrum

SpectrumView::SpectrumView(const Traces& t, QWidget* parent) : QWidget(parent), t_(t) { setMinimumSize(200, 150); }

void SpectrumView::refresh() {
    power_ = t_.channels() > 0 ? t_.spectrum(ch_ < t_.channels() ? ch_ : -1) : std::vector<double>{};
    update();
}

void SpectrumView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QFontMetrics fm = p.fontMetrics();
    const double binHz = t_.rate() / Traces::kSpectrumSize, topHz = std::min(100.0, t_.rate() / 2);
    const int k0 = static_cast<int>(std::ceil(1 / binHz)), k1 = std::min<int>(static_cast<int>(topHz / binHz), static_cast<int>(power_.size()) - 1);
    double lo = 1e300, hi = -1e300;
    for (int k = k0; k <= k1; ++k) lo = std::min(lo, power_[static_cast<size_t>(k)]), hi = std::max(hi, power_[static_cast<size_t>(k)]);
    lo = std::floor(lo), hi = std::max(std::ceil(hi), lo + 1);
    std::vector<int> ticks;
    for (int hz : {1, 20, 40, 60, 80, 100})
        if (hz <= topHz) ticks.push_back(hz);
    // The title on a row of its own above the plot; room left of it for the
    // power labels and right of it for half the last frequency label.
    const int th = fm.height();
    const int left = fm.horizontalAdvance(QStringLiteral("-88")) + 6;
    const int right = fm.horizontalAdvance(QString::number(ticks.back())) / 2 + 3;
    const QRect plot(left, th + 4, std::max(width() - left - right, 10), std::max(height() - 2 * (th + 4), 10));
    p.setPen(Qt::gray);
    p.drawRect(plot);
    p.setPen(Qt::black);
    const QString title = ch_ >= 0 && ch_ < t_.channels() ? QString::fromStdString(t_.trace(ch_).label) + QStringLiteral(" log µV²/Hz")
                                                          : QStringLiteral("mean of all, log µV²/Hz");
    p.drawText(QRect(0, 2, plot.right(), th), Qt::AlignRight | Qt::AlignVCenter, fm.elidedText(title, Qt::ElideRight, plot.right()));
    for (int hz : ticks) {
        const int x = plot.left() + static_cast<int>((hz - 1) / (topHz - 1) * plot.width());
        const int w = fm.horizontalAdvance(QString::number(hz)) + 2;
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 2);
        p.drawText(QRect(x - w / 2, plot.bottom() + 3, w, th), Qt::AlignCenter, QString::number(hz));
    }
    if (power_.empty() || k1 < k0) return;
    p.drawText(QRect(0, plot.top(), left - 4, th), Qt::AlignRight | Qt::AlignTop, QString::number(hi));
    p.drawText(QRect(0, plot.bottom() - th + 1, left - 4, th), Qt::AlignRight | Qt::AlignBottom, QString::number(lo));
    QPainterPath path;
    for (int k = k0; k <= k1; ++k) {
        const double x = plot.left() + (k * binHz - 1) / (topHz - 1) * plot.width();
        const double y = plot.bottom() - (power_[static_cast<size_t>(k)] - lo) / (hi - lo) * plot.height();
        k == k0 ? path.moveTo(x, y) : path.lineTo(x, y);
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 40, 140), 1));  // one pixel: the fast stroker, not the path filler
    p.drawPath(path);
}

// ------------------------------------------------------------------ head

HeadView::HeadView(const Traces& t, const CDriveOpnBciMutiBoardzq* drv, QWidget* parent)
    : QWidget(parent), t_(t), drv_(drv) {
    setMinimumSize(200, 200);
}

void HeadView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);
    const double R = std::min(width(), height() - 16) / 2.0 - 14;
    const QPointF c(width() / 2.0, (height() - 16) / 2.0 + 6);
    p.setPen(QPen(Qt::black, 1.5));
    p.drawEllipse(c, R, R);
    QPolygonF nose;
    nose << QPointF(c.x() - 10, c.y() - R + 1) << QPointF(c.x(), c.y() - R - 12) << QPointF(c.x() + 10, c.y() - R + 1);
    p.drawPolyline(nose);
    const char* what = readout_ == HeadReadout::Rms ? "RMS µV" : readout_ == HeadReadout::Impedance ? "impedance kΩ" : "lost packets";
    p.drawText(QRect(0, height() - 16, width(), 16), Qt::AlignCenter, QString::fromUtf8(what));
    // Seen from above, nose up.
    const int n = t_.channels();
    std::vector<double> value(static_cast<size_t>(n), NAN);
    double top = 0;
    for (int i = 0; i < n; ++i) {
        const Trace& tr = t_.trace(i);
        double v = NAN;
        if (readout_ == HeadReadout::Rms) v = t_.rms(i);
        else if (readout_ == HeadReadout::Impedance) v = i < static_cast<int>(kOhm_.size()) ? kOhm_[static_cast<size_t>(i)] : NAN;
        else if (drv_ && tr.board < static_cast<int>(drv_->m_dongles.size()) && drv_->m_dongles[static_cast<size_t>(tr.board)])
            v = static_cast<double>(drv_->m_dongles[static_cast<size_t>(tr.board)]->m_statGaps.load());
        value[static_cast<size_t>(i)] = v;
        if (std::isfinite(v)) top = std::max(top, v);
    }
    // Electrodes below the equator (T7, O1 ...) still fall inside the circle;
    // ear clips (A1, A2), further down, at its edge.
    double reach = 0;
    for (int i = 0; i < n; ++i)
        if (t_.trace(i).hasPosition) reach = std::max(reach, std::hypot(t_.trace(i).headX, t_.trace(i).headY));
    const double scale = R * std::min(0.88, reach > 0 ? 1.04 / reach : 1.0);
    std::vector<QPointF> at(static_cast<size_t>(n));
    std::vector<int> placed;
    for (int i = 0; i < n; ++i) {
        const Trace& tr = t_.trace(i);
        if (!tr.hasPosition) continue;
        at[static_cast<size_t>(i)] = QPointF(c.x() + tr.headX * scale, c.y() + tr.headY * scale);
        placed.push_back(i);
    }
    // Dots as large as their nearest neighbours allow, each name inside its
    // dot: names never cover one another, however many boards.
    double nearest = 2 * R;
    for (size_t a = 0; a < placed.size(); ++a)
        for (size_t b = a + 1; b < placed.size(); ++b) {
            const QPointF d = at[static_cast<size_t>(placed[a])] - at[static_cast<size_t>(placed[b])];
            nearest = std::min(nearest, std::hypot(d.x(), d.y()));
        }
    const double r = std::clamp(nearest / 2 - 1, 3.0, 11.0);
    QFont f = font();
    f.setPixelSize(std::max(7, static_cast<int>(r)));
    p.setFont(f);
    const QFontMetricsF fm(f);
    for (int i : placed) {
        const double v = value[static_cast<size_t>(i)];
        QColor fill(200, 200, 200);
        if (std::isfinite(v)) {
            // Impedance has fixed bands people know; the others are relative.
            const double u = readout_ == HeadReadout::Impedance ? std::clamp(v / 50.0, 0.0, 1.0) : top > 0 ? v / top : 0;
            fill = QColor::fromHsvF(std::max(0.0, 0.33 * (1 - u)), 0.6, 1.0);
        }
        const QPointF pt = at[static_cast<size_t>(i)];
        p.setPen(Qt::black);
        p.setBrush(fill);
        p.drawEllipse(pt, r, r);
        const QString name = QString::fromStdString(t_.trace(i).label);
        if (fm.horizontalAdvance(name) <= 2 * r + 3)
            p.drawText(QRectF(pt.x() - r - 4, pt.y() - r, 2 * r + 8, 2 * r), Qt::AlignCenter, name);
    }
}

// ------------------------------------------------------------------ status

void StatusStrip::setDriver(const CDriveOpnBciMutiBoardzq* drv) {
    drv_ = drv;
    cells_.assign(drv ? drv->m_dongles.size() : 0, Cell{});
    lastS_ = -1;
    updateGeometry();
    update();
}

int StatusStrip::perRow() const { return std::max(1, width() / 250); }

QSize StatusStrip::sizeHint() const {
    const int n = static_cast<int>(cells_.size());
    return {800, ((n + perRow() - 1) / perRow()) * 34 + 2};
}

bool StatusStrip::silent(int b) const { return b >= 0 && b < static_cast<int>(cells_.size()) && cells_[static_cast<size_t>(b)].silent; }

QColor StatusStrip::colourOf(int b) const { return silent(b) ? QColor(230, 60, 50) : QColor(200, 235, 200); }

void StatusStrip::refresh(double nowS) {
    if (!drv_) return;
    const double dt = lastS_ < 0 ? 0 : nowS - lastS_;
    for (size_t b = 0; b < cells_.size() && b < drv_->m_dongles.size(); ++b) {
        const CConfigComRadiozq* d = drv_->m_dongles[b];
        if (!d) continue;
        Cell& c = cells_[b];
        const unsigned long long pk = d->m_statPackets.load();
        c.pps = dt > 0 && pk >= c.packets ? static_cast<double>(pk - c.packets) / dt : c.pps;
        c.packets = pk;
        c.port = QString::fromStdString(CStringA(d->m_pSerialPort ? d->m_pSerialPort->getPortName() : d->m_portName).GetString());
        c.radio = d->m_radioChnl;
        c.lost = d->m_statGaps.load();
        c.rejected = d->m_statDropped.load() + d->m_statOutOfStep.load();
        c.reconnects = d->m_statReconnects.load();
        c.silent = d->m_statSilent.load();
    }
    lastS_ = nowS;
    update();
}

QRect StatusStrip::cell(int b) const {
    const int per = perRow(), w = width() / per;
    return {(b % per) * w + 1, (b / per) * 34 + 1, w - 2, 32};
}

void StatusStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QFont f = font();
    f.setPointSizeF(7.5);
    p.setFont(f);
    for (int b = 0; b < static_cast<int>(cells_.size()); ++b) {
        const Cell& c = cells_[static_cast<size_t>(b)];
        const QRect r = cell(b);
        p.fillRect(r, colourOf(b));
        p.setPen(Qt::black);
        p.drawText(r.adjusted(4, 1, -2, -1), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("board %1  %2  radio %3  %4\n%5 packets/s  lost %6  rejected %7  reconnects %8")
                       .arg(b + 1).arg(c.port).arg(c.radio).arg(c.silent ? QStringLiteral("SILENT") : QString())
                       .arg(c.pps, 0, 'f', 1).arg(c.lost).arg(c.rejected).arg(c.reconnects));
    }
}

}  // namespace view
