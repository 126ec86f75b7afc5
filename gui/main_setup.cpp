// mbeeg-setup: the connection and multi-board EEG setup dialogs as real
// windows, on the dongles plugged into this PC or on built-in simulated boards.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "gui/QtUiBackend.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "ui/DialogTemplates.h"

namespace {
// The EEG dialog refreshes its list on timer 200 while it is shown; once a
// second is enough for a person reading read-outs and keeps the rebuild of
// the channel lists that every tick costs small.
constexpr UINT kEegRefreshMs = 1000;
}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{"mbeeg-setup: the connection and EEG setup dialogs of the multi-board driver"};
    int simBoards = 0;
    int linkType = LINK_TYPE_CYTON8;
    bool noSearch = false;
    cli.add_option("--sim", simBoards, "run on N built-in simulated boards instead of the dongles of this PC")
        ->check(CLI::Range(1, 25));
    cli.add_option("--link", linkType, "6: Cyton boards (8 channels each), 7: Cyton with Daisy (16 each)")
        ->check(CLI::IsMember({6, 7}));
    cli.add_flag("--no-search", noSearch, "open the dialogs without searching for boards first");
    CLI11_PARSE(cli, argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mbeeg-setup"));
    QApplication::setWindowIcon(mbeeg::gui::setupIcon());

    std::unique_ptr<sim::SimRig> rig;
    if (simBoards > 0) {
        mbeeg::serial::setRealPortsEnabled(false);
        sim::SimConfig sc;
        sc.boards = simBoards;
        sc.keepLog = false;
        rig = std::make_unique<sim::SimRig>(sc);
        rig->plugIn();
    }

    mbeeg::gui::QtUiBackend backend;
    backend.install();
    backend.setAutoTimer(IDD_SETUP_MULTIBOARD_EEG, IDT_EEG_REFRESH, kEegRefreshMs);
    backend.setOnAllHidden([] { QApplication::quit(); });
    // The host's status view is this program's standard output.
    acqhost::setStatusSink([](const CString& line) {
        std::printf("%s\n", platform::narrow(line.str()).c_str());
        std::fflush(stdout);
    });

    CHdwrConfigzq cfg;
    cfg.m_linkType = linkType;
    cfg.m_name = L"mbeeg-setup";
    CMeAcqDatazq data;
    auto driver = std::make_unique<CDriveOpnBciMutiBoardzq>();

    int rc = 0;
    QTimer::singleShot(0, [&] {
        // The host's road: search and connect, which brings up the EEG dialog
        // and the connection dialog with it.
        int shown = noSearch ? driver->showDlgSetupMultiBoardEeg(&cfg, &data) : driver->_01findConnectHdwr(&cfg, &data);
        if (!driver->m_pDlgEeg && !driver->m_pDlgBleCom) {
            std::fprintf(stderr, "mbeeg-setup: the dialogs could not be opened\n");
            rc = 1;
            QApplication::quit();
        }
        std::printf("%s\n", platform::narrow(driver->m_boardSummary.str()).c_str());
        std::fflush(stdout);
        (void)shown;
    });
    int loop = app.exec();

    driver->cleanDevice();
    driver->cleanConfigComBle2Board();
    driver->cleanCloseFaceCom();
    driver.reset();
    rig.reset();
    return rc != 0 ? rc : loop;
}
