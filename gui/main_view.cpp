// mbeeg-view: a live signal window on the dongles plugged into this PC or on
// built-in simulated boards; --screenshot renders headless and saves a PNG.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/Console.h"
#include "app/Session.h"
#include "gui/view/ViewWindow.h"

int main(int argc, char** argv) {
    CLI::App cli{"mbeeg-view: live traces, spectrum, head and board status of the multi-board driver"};
    app::SessionOptions opts;
    std::string shot;
    double seconds = 5;
    bool monitor = false;
    cli.add_option("--sim", opts.sim.boards, "run on N built-in simulated boards instead of the dongles of this PC")
        ->check(CLI::Range(1, 25));
    cli.add_option("--link", opts.link, "6: Cyton boards (8 channels each), 7: Cyton with Daisy (16 each)")
        ->check(CLI::IsMember({6, 7}));
    cli.add_flag("--monitor", monitor, "connect and start monitoring at once");
    cli.add_option("--screenshot", shot, "run without a screen, monitor, and save the window as a PNG after --seconds");
    cli.add_option("--seconds", seconds, "seconds of monitoring before --screenshot")->check(CLI::Range(0.5, 3600.0));
    CLI11_PARSE(cli, argc, argv);
    // Headless needs no display; the choice must come before QApplication.
    if (!shot.empty() && !std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mbeeg-view"));
    app::ConsoleOptions console;
    console.quiet = !shot.empty();
    app::installConsole(console);
    app::Session session(opts);
    view::ViewHooks hooks;
    view::ViewWindow win(session, hooks);
    win.show();
    int rc = 0;
    if (monitor || !shot.empty() || opts.sim.boards > 0)
        QTimer::singleShot(0, &win, [&] {
            if (!win.monitor() && !shot.empty()) {
                std::fprintf(stderr, "mbeeg-view: %s\n", win.lastMessage().toUtf8().constData());
                rc = 1;
                QApplication::quit();
            }
        });
    if (!shot.empty())
        QTimer::singleShot(static_cast<int>(seconds * 1000), &win, [&] {
            win.frame();
            win.spectrumView()->refresh();
            win.headView()->update();
            win.statusStrip()->refresh(seconds);
            if (!win.grab().save(QString::fromStdString(shot))) {
                std::fprintf(stderr, "mbeeg-view: could not save %s\n", shot.c_str());
                rc = 1;
            } else {
                std::printf("mbeeg-view: saved %s\n", shot.c_str());
            }
            QApplication::quit();
        });
    const int loop = qapp.exec();
    return rc ? rc : loop;
}
