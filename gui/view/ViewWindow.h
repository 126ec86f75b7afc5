// mbeeg-view's main window: a toolbar for the session, the traces of every EEG
// channel grouped by board, a spectrum, a head and a status cell per board.
// A timer takes the rows the data set holds at the window's own frame rate;
// the reading loop never waits for it.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Session.h"
#include "gui/view/Traces.h"
#include "gui/view/ViewHooks.h"
#include "gui/view/ViewWidgets.h"

class QAction;
class QComboBox;
class QLabel;

namespace mbeeg::gui {
class QtUiBackend;
}

namespace view {

class ViewWindow : public QMainWindow {
public:
    ViewWindow(app::Session& session, ViewHooks& hooks, QWidget* parent = nullptr);
    ~ViewWindow() override;

    // The toolbar's operations, also for tests and --screenshot.
    bool connectBoards();  // blocks, showing discovery's progress
    bool monitor();
    // A file (or its sidecar) that exists is replaced only when asked.
    bool record(const QString& path, const QString& subject, int minutes = 10, bool replace = false);
    void stop();
    void marker();
    void impedance();

    // One frame: take the rows that came, refresh what changed. The timer
    // calls it; tests call it directly.
    void frame();
    void setFrameRate(int fps) { timer_.setInterval(1000 / std::max(fps, 1)); }
    // The trials a recording is kept in while the file takes them.
    void setRecordTrialSeconds(double s) { recordTrialS_ = s > 0 ? s : 10; }

    Traces& traces() { return traces_; }
    TraceView* traceView() const { return traceView_; }
    SpectrumView* spectrumView() const { return spectrum_; }
    HeadView* headView() const { return head_; }
    StatusStrip* statusStrip() const { return status_; }
    QAction* action(const QString& text) const;
    QString lastMessage() const { return message_; }
    // The time each frame drawn took (for the benchmark).
    std::vector<double>& frameMs() { return frameMs_; }

private:
    void buildToolbar();
    void applyViewSettings();
    void askRecord();
    void say(const QString& text);
    void afterStart();
    void setupDialog(bool eeg);

    app::Session& s_;
    ViewHooks& hooks_;
    Traces traces_;
    TraceView* traceView_ = nullptr;
    SpectrumView* spectrum_ = nullptr;
    HeadView* head_ = nullptr;
    StatusStrip* status_ = nullptr;
    QLabel* state_ = nullptr;
    QComboBox *seconds_ = nullptr, *scale_ = nullptr, *notch_ = nullptr, *band_ = nullptr, *readout_ = nullptr,
              *specCh_ = nullptr;
    mbeeg::gui::QtUiBackend* backend_ = nullptr;  // made when a setup dialog is first opened
    QTimer timer_;
    bool connected_ = false;
    bool recording_ = false, recordingSeen_ = false;
    bool dirty_ = true;
    double lastStatusMs_ = 0;  // drawn settings changed since the last frame
    int frames_ = 0;
    double recordTrialS_ = 10;
    QString message_;
    std::vector<double> frameMs_;
    std::unique_ptr<std::thread> impedanceThread_;
    std::atomic<bool> impedanceDone_{false};
    std::vector<double> impedanceKOhm_;
    std::string impedanceReport_;
};

}  // namespace view
