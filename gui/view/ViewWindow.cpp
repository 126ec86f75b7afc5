#include "gui/view/ViewWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>

#include "app/Activity.h"
#include "gui/QtUiBackend.h"
#include "platform/uibackend.h"

namespace view {

namespace {
double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
// The trial the reading loop fills round and round while monitoring: long
// enough that a window that stalls for a moment still finds its rows.
constexpr double kMonitorTrialS = 8;
}  // namespace

ViewWindow::ViewWindow(app::Session& session, ViewHooks& hooks, QWidget* parent)
    : QMainWindow(parent), s_(session), hooks_(hooks) {
    setWindowTitle(QStringLiteral("mbeeg-view"));
    auto* central = new QWidget(this);
    auto* v = new QVBoxLayout(central);
    v->setContentsMargins(2, 2, 2, 2);
    auto* split = new QSplitter(Qt::Horizontal, central);
    traceView_ = new TraceView(traces_, split);
    auto* side = new QWidget(split);
    auto* sv = new QVBoxLayout(side);
    sv->setContentsMargins(0, 0, 0, 0);
    spectrum_ = new SpectrumView(traces_, side);
    head_ = new HeadView(traces_, &s_.driver(), side);
    sv->addWidget(spectrum_, 1);
    sv->addWidget(head_, 1);
    split->addWidget(traceView_);
    split->addWidget(side);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    status_ = new StatusStrip(central);
    v->addWidget(split, 1);
    v->addWidget(status_);
    setCentralWidget(central);
    buildToolbar();
    resize(1280, 800);
    connect(&timer_, &QTimer::timeout, this, [this] { frame(); });
    setFrameRate(30);
    timer_.start();
}

ViewWindow::~ViewWindow() {
    timer_.stop();
    if (impedanceThread_) impedanceThread_->join();
    s_.stop();
}

void ViewWindow::buildToolbar() {
    QToolBar* bar = addToolBar(QStringLiteral("Session"));
    bar->setMovable(false);
    bar->addAction(QStringLiteral("Connect"), this, [this] { connectBoards(); });
    bar->addAction(QStringLiteral("Setup connection"), this, [this] { setupDialog(false); });
    bar->addAction(QStringLiteral("Setup EEG"), this, [this] { setupDialog(true); });
    bar->addSeparator();
    bar->addAction(QStringLiteral("Monitor"), this, [this] { monitor(); });
    bar->addAction(QStringLiteral("Record"), this, [this] { askRecord(); });
    bar->addAction(QStringLiteral("Stop"), this, [this] { stop(); });
    bar->addAction(QStringLiteral("Impedance"), this, [this] { impedance(); });
    bar->addAction(QStringLiteral("Marker"), this, [this] { marker(); });
    addToolBarBreak();
    bar = addToolBar(QStringLiteral("View"));
    bar->setMovable(false);
    auto combo = [&](const QString& label, const QStringList& items, int current) {
        bar->addWidget(new QLabel(QStringLiteral(" %1 ").arg(label), bar));
        auto* c = new QComboBox(bar);
        c->addItems(items);
        c->setCurrentIndex(current);
        connect(c, &QComboBox::currentIndexChanged, this, [this] { applyViewSettings(); });
        bar->addWidget(c);
        return c;
    };
    seconds_ = combo(QStringLiteral("Time"), {"2 s", "5 s", "10 s", "20 s", "30 s"}, 2);
    scale_ = combo(QStringLiteral("Scale"), {"auto", "10 µV", "20 µV", "50 µV", "100 µV", "200 µV", "500 µV", "1 mV",
                                             "2 mV", "5 mV", "10 mV"}, 0);
    notch_ = combo(QStringLiteral("Notch"), {"off", "50 Hz", "60 Hz"}, 0);
    band_ = combo(QStringLiteral("Band"), {"off", "1-40 Hz", "0.5-70 Hz", "8-13 Hz"}, 0);
    specCh_ = combo(QStringLiteral("Spectrum"), {"mean of all"}, 0);
    readout_ = combo(QStringLiteral("Head"), {"RMS", "impedance", "lost packets"}, 0);
    state_ = new QLabel(bar);
    bar->addWidget(state_);
}

QAction* ViewWindow::action(const QString& text) const {
    for (QToolBar* bar : findChildren<QToolBar*>())
        for (QAction* a : bar->actions())
            if (a->text() == text) return a;
    return nullptr;
}

void ViewWindow::say(const QString& text) {
    message_ = text;
    state_->setText(QStringLiteral("  ") + text);
}

void ViewWindow::applyViewSettings() {
    static const double secs[] = {2, 5, 10, 20, 30};
    traces_.setView(std::max(traceView_->width() - TraceView::kLabelWidth, 16), secs[seconds_->currentIndex()]);
    static const double uv[] = {0, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000};
    traceView_->setScaleUv(uv[scale_->currentIndex()]);
    static const double notch[] = {0, 50, 60};
    static const double band[][2] = {{0, 0}, {1, 40}, {0.5, 70}, {8, 13}};
    const int b = band_->currentIndex();
    traces_.setFilters({notch[notch_->currentIndex()], band[b][0], band[b][1]});
    spectrum_->setChannel(specCh_->currentIndex() - 1);
    head_->setReadout(static_cast<HeadReadout>(readout_->currentIndex()));
    traceView_->redrawAll();
    dirty_ = true;
}

bool ViewWindow::connectBoards() {
    if (connected_) return true;
    if (s_.acquiring()) return false;
    say(QStringLiteral("discovering boards"));
    bool ok = false;
    if (platform::uiBackend() != nullptr) {
        // The setup dialogs' window layer shows its boxes on this thread.
        ok = s_.connect();
    } else {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            ok = s_.connect();
            done = true;
        });
        QProgressDialog progress(QStringLiteral("Discovering boards"), QString(), 0, 0, this);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(300);
        while (!done) {
            progress.setLabelText(QString::fromStdString(app::currentActivity()));
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        worker.join();
    }
    connected_ = ok;
    status_->setDriver(&s_.driver());
    say(ok ? QStringLiteral("%1 board(s) found").arg(s_.boards()) : QStringLiteral("no board connected"));
    return ok;
}

void ViewWindow::setupDialog(bool eeg) {
    if (s_.acquiring()) {
        say(QStringLiteral("Stop first: the setup dialogs talk to the boards"));
        return;
    }
    // Made on first use: until then the library's boxes stay off the screen,
    // so discovery may run off this thread.
    if (!backend_) {
        backend_ = new mbeeg::gui::QtUiBackend;
        backend_->setParent(this);
        backend_->install();
    }
    CDriveOpnBciMutiBoardzq& d = s_.driver();
    eeg ? d.showDlgSetupMultiBoardEeg(&s_.config(), &s_.data()) : d.showDlgSetupMultiBoardBleCom(&s_.config(), &s_.data());
}

void ViewWindow::afterStart() {
    traces_.attach(s_.data(), s_.sampleRate());
    specCh_->blockSignals(true);
    specCh_->clear();
    specCh_->addItem(QStringLiteral("mean of all"));
    for (int c = 0; c < traces_.channels(); ++c)
        specCh_->addItem(QStringLiteral("B%1 %2").arg(traces_.trace(c).board + 1).arg(QString::fromStdString(traces_.trace(c).label)));
    specCh_->blockSignals(false);
    applyViewSettings();
}

bool ViewWindow::monitor() {
    if (s_.acquiring()) stop();
    if (!connectBoards()) return false;
    if (!s_.startMonitor(static_cast<std::int64_t>(kMonitorTrialS * s_.sampleRate()))) {
        say(QStringLiteral("monitoring did not start"));
        return false;
    }
    afterStart();
    say(QStringLiteral("monitoring %1 board(s)").arg(s_.boards()));
    return true;
}

void ViewWindow::askRecord() {
    QDialog dlg(this);
    dlg.setWindowTitle(QStringLiteral("Record"));
    auto* form = new QFormLayout(&dlg);
    // A new name each time: a second recording never meets the first.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    auto* file = new QLineEdit(QStringLiteral("recording-%1.bdf").arg(stamp), &dlg);
    file->setObjectName(QStringLiteral("file"));
    auto* subject = new QLineEdit(&dlg);
    subject->setObjectName(QStringLiteral("subject"));
    auto* minutes = new QLineEdit(QStringLiteral("10"), &dlg);
    minutes->setObjectName(QStringLiteral("minutes"));
    form->addRow(QStringLiteral("File name"), file);
    form->addRow(QStringLiteral("Subject"), subject);
    form->addRow(QStringLiteral("Minutes at most"), minutes);
    auto* replace = new QCheckBox(QStringLiteral("Replace an existing file"), &dlg);
    replace->setObjectName(QStringLiteral("replace"));
    form->addRow(replace);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() == QDialog::Accepted)
        record(file->text(), subject->text(), std::max(1, minutes->text().toInt()), replace->isChecked());
}

bool ViewWindow::record(const QString& path, const QString& subject, int minutes, bool replace) {
    const QFileInfo fi(path);
    // Said before anything stops or starts, not when the first second is due.
    const QFileInfo sidecar(fi.dir(), fi.completeBaseName() + QStringLiteral(".json"));
    if (!replace && (fi.exists() || fi.isSymLink() || sidecar.exists())) {
        say(QStringLiteral("%1 exists: choose another name, or tick \"Replace an existing file\"")
                .arg((fi.exists() || fi.isSymLink() ? fi : sidecar).absoluteFilePath()));
        return false;
    }
    if (s_.acquiring()) stop();
    if (!connectBoards()) return false;
    hooks_.beforeRecord(s_.data(), subject.toStdString());
    // Rows the file has leave memory: a day-long recording stays small.
    s_.data().m_releaseWritten = true;
    s_.data().m_overwrite = replace;
    // A file that cannot be written ends the recording, and the window says so.
    s_.data().setStopRequest([this] { s_.driver().AcqStop(); });
    // Recording ends by itself after `minutes` (or on Stop).
    const int trials = std::max(1, static_cast<int>(std::ceil(minutes * 60 / recordTrialS_)));
    if (!s_.startRecord(fi.absolutePath().toStdString(), fi.fileName().toStdString(), trials,
                        std::max<std::int64_t>(1, std::llround(recordTrialS_ * s_.sampleRate())))) {
        say(QStringLiteral("recording did not start"));
        return false;
    }
    afterStart();
    recording_ = true;
    recordingSeen_ = false;
    say(QStringLiteral("recording to %1").arg(fi.absoluteFilePath()));
    return true;
}

void ViewWindow::stop() {
    const bool recording = recording_;
    recording_ = false;
    s_.stop();
    frame();
    if (recording) {
        const CString saved = s_.data().savedPath();
        say(saved.IsEmpty() ? QStringLiteral("recording not saved: %1").arg(QString::fromStdString(CStringA(s_.data().lastSaveError()).GetString()))
                            : QStringLiteral("saved %1").arg(QString::fromStdString(CStringA(saved).GetString())));
    } else {
        say(QStringLiteral("stopped"));
    }
}

void ViewWindow::marker() {
    if (!traces_.attached() || !s_.acquiring()) return;
    const std::int64_t row = RowFeed(s_.data()).rowsWritten();
    hooks_.mark(s_.data(), row, s_.sampleRate(), "Marker");
    traces_.addMarker(row);
}

void ViewWindow::impedance() {
    if (s_.acquiring()) {
        say(QStringLiteral("Stop first: the impedance drive needs the boards' ports"));
        return;
    }
    if (impedanceThread_ || !connectBoards()) return;
    say(QStringLiteral("measuring impedance"));
    impedanceDone_ = false;
    impedanceThread_ = std::make_unique<std::thread>([this] {
        impedanceKOhm_ = hooks_.measureImpedance(s_, impedanceReport_);
        impedanceDone_ = true;
    });
}

void ViewWindow::frame() {
    const double t0 = nowMs();
    if (impedanceThread_ && impedanceDone_) {
        impedanceThread_->join();
        impedanceThread_.reset();
        head_->setImpedance(impedanceKOhm_);
        readout_->setCurrentIndex(static_cast<int>(HeadReadout::Impedance));
        say(QString::fromStdString(impedanceReport_));
    }
    if (traceView_->width() - TraceView::kLabelWidth != traces_.columns()) applyViewSettings();
    // A recording that ended by itself (its length reached, its file failed);
    // the status is the last run's until the reading loop has started.
    if (recording_) {
        const int st = s_.data().m_acqStatus.load();
        if (st == AcqStatus::Recording) recordingSeen_ = true;
        else if (recordingSeen_ && (st == AcqStatus::RecordingEnded || st == AcqStatus::Saved)) stop();
    }
    // The boards' cells once a second, rows or not (a silent board sends none).
    if (t0 - lastStatusMs_ >= 1000) {
        status_->refresh(t0 / 1000.0);
        lastStatusMs_ = t0;
    }
    // Nothing new, nothing to draw: a stopped window costs nothing.
    if (traces_.update() == 0 && !dirty_) return;
    dirty_ = false;
    traceView_->showStep();
    ++frames_;
    // The slower panels change slowly: once a second, on frames apart.
    if (frames_ % 30 == 0) spectrum_->refresh();
    if (frames_ % 30 == 15) head_->update();
    if (frameMs_.size() < 1'000'000) frameMs_.push_back(nowMs() - t0);
}

}  // namespace view
