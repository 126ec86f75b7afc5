// mbeeg-view's window on two simulated boards on virtual time: what the
// traces hold is what the boards sent, the spectrum finds the sine a channel
// carries, a powered-down channel draws flat, a silent board's cell turns red
// and back, and Record from the toolbar saves what the boards sent, with the
// marker, in a file MNE reads, its trials leaving memory as the file takes
// them while the traces go on.
#include <edflib.h>
#include <stdlib.h>

#include <QApplication>
#include <QBackingStore>
#include <QDialog>
#include <QLineEdit>
#include <QtTest>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/Session.h"
#include "geometry/ElectrodeTables.h"
#include "gui/view/ViewWindow.h"
#include "platform/clock.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"

namespace {
constexpr double kUvPerCount = 4.5 / 8388607.0 / 24.0 * 1e6;

// Yields while the reading loop moves the virtual clock; the real-time cap
// turns a loop that stopped into a failure instead of a hang.
template <class Pred>
bool waitFor(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!pred())
        if (std::chrono::steady_clock::now() > end) return false;
        else std::this_thread::yield();
    return true;
}

// Where `rows` (one board's channel-1..8 counts, row by row) start among the
// packets the board sent, checking every row after; "" when they all match.
std::string followsTruth(const std::vector<std::array<std::int32_t, 8>>& rows, const std::vector<sim::PacketRecord>& sent) {
    if (rows.empty()) return "no rows";
    size_t k = 0;
    while (k < sent.size() && (sent[k].dropped || sent[k].counts != rows[0])) ++k;
    for (size_t r = 0; r < rows.size(); ++r, ++k)
        if (k >= sent.size() || sent[k].counts != rows[r]) return "row " + std::to_string(r) + " is not what the board sent";
    return "";
}
}  // namespace

class ViewGuiTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        clock_ = std::make_unique<platform::ScopedVirtualClock>();
        mbeeg::serial::setRealPortsEnabled(false);
        sim::SimConfig sc;
        sc.boards = 2;
        sc.seed = 5;
        rig_ = std::make_unique<sim::SimRig>(sc);
        rig_->plugIn();
        session_ = std::make_unique<app::Session>(app::SessionOptions{});
        win_ = std::make_unique<view::ViewWindow>(*session_, hooks_);
        win_->show();
        QApplication::processEvents();  // laid out
        QVERIFY(win_->connectBoards());
        QCOMPARE(session_->boards(), 2);
    }

    void tracesHoldWhatTheBoardsSent() {
        // Pin 4 of board 1 powered down; every other channel as it comes.
        session_->driver().turnOnOffChnl(3, 0, 0);
        clock_->get().advanceUs(50'000);  // over the radio
        QVERIFY(rig_->board(0).channelState(3).powerDown);
        rig_->board(0).clearLog();
        rig_->board(1).clearLog();
        QVERIFY(win_->monitor());
        view::Traces& t = win_->traces();
        // Frames as they come, until the traces have filled the view and
        // scrolled on; the end at a row close to the same each run (the
        // alpha rhythm waxes and wanes).
        QVERIFY(waitFor([&] { return win_->frame(), view::RowFeed(session_->data()).rowsWritten() > 1000; }));
        // The scale pinned where it stands, so the frames after scroll the
        // image rather than draw it anew.
        win_->traceView()->setScaleUv(win_->traceView()->shownScaleUv());
        QVERIFY(waitFor([&] { return win_->frame(), t.doneColumns() > t.columns() + 100; }));
        win_->stop();
        QVERIFY(t.rows() > view::Traces::kSpectrumSize);
        // Labels spelt as the files spell them, every one placed on the head.
        QCOMPARE(QString::fromStdString(t.trace(0).label), QStringLiteral("Fp1"));
        for (int c = 0; c < t.channels(); ++c) QVERIFY2(t.trace(c).hasPosition, t.trace(c).label.c_str());

        tracesFollowTheBoards();
        const int N = view::Traces::kSpectrumSize;

        // The alpha rhythm of board 2, pin 3: the spectrum's peak within 3-40 Hz
        // (below, the slow wander can outweigh a waning rhythm).
        const double hz = rig_->board(1).traits(2).alphaHz, bin = t.rate() / N;
        int ch = 0;
        while (!(t.trace(ch).board == 1 && t.trace(ch).pin == 2)) ++ch;
        const std::vector<double> p = t.spectrum(ch);
        const int from = static_cast<int>(std::ceil(3 / bin));
        int peak = from;
        for (int k = from; k * bin < 40; ++k)
            if (p[static_cast<size_t>(k)] > p[static_cast<size_t>(peak)]) peak = k;
        QVERIFY2(std::abs(peak * bin - hz) <= bin, qPrintable(QStringLiteral("peak at %1 Hz, sine at %2 Hz").arg(peak * bin).arg(hz)));

        // Flat: the powered-down channel inks one pixel row, its neighbour many.
        view::TraceView* tv = win_->traceView();
        const QImage shot = tv->grab().toImage();
        // What the window shows after moving only the inked rows, frame after
        // frame, is the kept image; and that is the one drawn from scratch.
        QPaintDevice* screen = tv->backingStore()->paintDevice();
        QCOMPARE(screen->devType(), int(QInternal::Image));
        const QRect plot = tv->plotRect();
        QCOMPARE(static_cast<QImage*>(screen)->copy(plot.translated(tv->mapTo(tv->window(), QPoint()))).convertToFormat(shot.format()),
                 shot.copy(plot));
        tv->redrawAll();
        QCOMPARE(win_->traceView()->grab().toImage(), shot);
        auto inkedRows = [&](int c) {
            std::set<int> ys;
            const auto [top, bottom] = win_->traceView()->lane(c);
            for (int y = top + 1; y < bottom; ++y)
                for (int x = view::TraceView::kLabelWidth; x < shot.width(); ++x)
                    if (QColor(shot.pixel(x, y)).blue() > 100 && QColor(shot.pixel(x, y)).red() < 60) ys.insert(y);
            return ys.size();
        };
        QCOMPARE(inkedRows(3), size_t{1});
        QVERIFY(inkedRows(2) > 3);
        session_->driver().turnOnOffChnl(3, 1, 0);
        clock_->get().advanceUs(50'000);
        win_->traceView()->setScaleUv(0);
    }

    // Every row of every template lands on the head: odd numbers on the left,
    // even on the right, "z" between, Fp in front, O behind (nets' E names:
    // placed only).
    void headPlacesEveryTemplateElectrode() {
        for (int table = 0; table < ELCTD_TABLE_COUNT; ++table)
            for (int r = 0; r < electrodeTable(table).count; ++r) {
                const ELCTD_POS_NAME_PXYZ& e = electrodeTable(table).rows[r];
                const std::wstring w(e.name);
                const std::string name(w.begin(), w.end()), where = "T" + std::to_string(table + 1) + " " + name;
                double x = 0, y = 0;
                QVERIFY2(view::headPosition(w, e.x, e.y, e.z, x, y) && std::hypot(x, y) <= 2, where.c_str());
                const char last = static_cast<char>(std::tolower(name.back()));
                if ((name[0] == 'E' && std::isdigit(name[1])) || (last != 'z' && !std::isdigit(last))) continue;
                const double side = last == 'z' ? 0 : (last - '0') % 2 ? -1 : 1;
                const bool frontOk = std::toupper(name[1]) != 'P' || name[0] != 'F' || y < 0, backOk = name[0] != 'O' || y > 0;
                QVERIFY2(std::abs(x - side * std::abs(x)) < 0.05 && (side == 0 || std::abs(x) > 0.05) && frontOk && backOk, where.c_str());
            }
    }

    void silentBoardTurnsRedAndComesBack() {
        QVERIFY(win_->monitor());
        view::StatusStrip* strip = win_->statusStrip();
        const QColor ok = strip->colourOf(1);
        auto looks = [&](bool silent) {
            return waitFor([&] { return session_->driver().m_dongles[1]->m_statSilent.load() == silent; });
        };
        rig_->board(1).powerOff();
        QVERIFY(looks(true));
        strip->refresh(1);
        QApplication::processEvents();
        const QPoint first = strip->cell(0).topLeft() + QPoint(2, 2), second = strip->cell(1).topLeft() + QPoint(2, 2);
        QCOMPARE(strip->grab().toImage().pixelColor(second), QColor(230, 60, 50));
        QCOMPARE(strip->grab().toImage().pixelColor(first), ok);
        rig_->board(1).powerOn();
        QVERIFY(looks(false));
        strip->refresh(2);
        QCOMPARE(strip->grab().toImage().pixelColor(second), ok);
        win_->stop();
    }

    void recordFromTheToolbar() {
        const std::filesystem::path dir = std::filesystem::path(::mkdtemp(tmp_)), bdf = dir / "rec.bdf";
        // The Record dialog: file name and one minute, then OK.
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            dlg->findChild<QLineEdit*>("file")->setText(QString::fromStdString(bdf.string()));
            dlg->findChild<QLineEdit*>("minutes")->setText("1");
            dlg->accept();
        });
        // Trials of 2 s, given back to memory once the file has them, while
        // the window keeps reading.
        win_->setRecordTrialSeconds(2);
        win_->action("Record")->trigger();
        CMeAcqDatazq& data = session_->data();
        QVERIFY(waitFor([&] { return win_->frame(), view::RowFeed(data).rowsWritten() > 1500; }));
        win_->action("Marker")->trigger();
        const double markS = data.annotations().back().seconds;
        QCOMPARE(win_->traces().markers().size(), size_t{1});
        QVERIFY(waitFor([&] { return win_->frame(), data.releasedTrials() >= 4 && win_->traces().rowsSinceGap() >= 512; }));
        win_->action("Stop")->trigger();
        QVERIFY2(std::filesystem::exists(bdf), qPrintable(win_->lastMessage()));
        tracesFollowTheBoards();

        // Every EEG sample of both boards as they sent it.
        edf_hdr_struct hdr{};
        QCOMPARE(edfopen_file_readonly(bdf.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0);
        const nlohmann::json side = nlohmann::json::parse(std::ifstream(dir / "rec.json"));
        const long long n = side["samples"].get<long long>(), inFile = hdr.signalparam[0].smp_in_file;  // the last record is padded
        std::vector<std::vector<std::array<std::int32_t, 8>>> rows(2, std::vector<std::array<std::int32_t, 8>>(static_cast<size_t>(n)));
        std::vector<int> v(static_cast<size_t>(n));
        for (int s = 0; s < hdr.edfsignals; ++s) {
            const nlohmann::json& ch = side["channels"][s];
            if (ch["kind"] != "EEG") continue;
            edfrewind(hdr.handle, s);
            QCOMPARE(edfread_digital_samples(hdr.handle, s, static_cast<int>(n), v.data()), static_cast<int>(n));
            for (long long i = 0; i < n; ++i) rows[ch["board"].get<size_t>()][static_cast<size_t>(i)][ch["pin"].get<size_t>()] = v[static_cast<size_t>(i)];
        }
        edfclose_file(hdr.handle);
        for (int b = 0; b < 2; ++b)
            QCOMPARE(QString::fromStdString(followsTruth(rows[static_cast<size_t>(b)], rig_->board(b).packets())), QString());

        // MNE reads as many samples, and the marker where it was set.
        const std::string out = (dir / "mne.txt").string();
        const std::string py = "import mne; r = mne.io.read_raw_bdf('" + bdf.string() +
                               "', verbose='error'); print(r.n_times); "
                               "print([('%.3f' % float(a['onset']), a['description']) for a in r.annotations])";
        QCOMPARE(std::system(("/usr/bin/python3 -c \"" + py + "\" >" + out + " 2>&1").c_str()), 0);
        std::ifstream mne(out);
        std::string times, notes;
        std::getline(mne, times);
        std::getline(mne, notes);
        QCOMPARE(std::stoll(times), inFile);
        QVERIFY2(notes.find(QStringLiteral("('%1', 'Marker')").arg(markS, 0, 'f', 3).toStdString()) != std::string::npos,
                 notes.c_str());

        // The same name again is refused at once, and the file stays as it was.
        const auto size = std::filesystem::file_size(bdf);
        const auto when = std::filesystem::last_write_time(bdf);
        QVERIFY(!win_->record(QString::fromStdString(bdf.string()), "S02"));
        QVERIFY2(win_->lastMessage().contains("exists") && !session_->acquiring(), qPrintable(win_->lastMessage()));
        QVERIFY(std::filesystem::file_size(bdf) == size && std::filesystem::last_write_time(bdf) == when);
        std::filesystem::remove_all(dir);
    }

    void setupDialogsOpenFromTheToolbar() {
        win_->action("Setup EEG")->trigger();
        int shown = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != win_.get() && w->isVisible()) ++shown, w->close();
        QVERIFY(shown > 0);
    }

    void cleanupTestCase() {
        win_.reset();
        session_.reset();
        rig_.reset();
        clock_.reset();
    }

private:
    // The last raw values of every board, sample by sample, against the sim.
    void tracesFollowTheBoards() {
        const view::Traces& t = win_->traces();
        // Rows the window skipped (it fell behind the loop on virtual time)
        // are the file's to check; the window's since then are checked here.
        const int S = view::Traces::kSpectrumSize, N = static_cast<int>(std::min<std::int64_t>(S, t.rowsSinceGap()));
        QVERIFY2(N >= 64, qPrintable(QStringLiteral("%1 rows since a gap").arg(N)));
        for (int b = 0; b < 2; ++b) {
            std::vector<std::array<std::int32_t, 8>> rows(static_cast<size_t>(N));
            for (int c = 0; c < t.channels(); ++c) {
                const view::Trace& tr = t.trace(c);
                if (tr.board != b) continue;
                for (int i = 0; i < N; ++i)
                    rows[static_cast<size_t>(i)][static_cast<size_t>(tr.pin)] =
                        static_cast<std::int32_t>(std::lround(tr.raw[static_cast<size_t>((t.rows() - N + i) % S)] / kUvPerCount));
            }
            QCOMPARE(QString::fromStdString(followsTruth(rows, rig_->board(b).packets())), QString());
        }
    }

    std::unique_ptr<platform::ScopedVirtualClock> clock_;
    std::unique_ptr<sim::SimRig> rig_;
    std::unique_ptr<app::Session> session_;
    view::ViewHooks hooks_;
    std::unique_ptr<view::ViewWindow> win_;
    char tmp_[32] = "/tmp/mbeeg-view-test.XXXXXX";
};

QTEST_MAIN(ViewGuiTest)
#include "view_gui_test.moc"
