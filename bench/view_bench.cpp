// mbeeg-view under load: the window shown (offscreen) and monitoring N
// in-process simulated boards on real time. Prints one line of name=value:
//   boards fps cpu_pct frame_ms_p99 acq_latency_p99_ms rows skipped_rows
// cpu_pct is of the whole process (acquisition, simulator and window) over
// the measured span; acq_latency is from the moment a board sent a packet to
// the moment its row stood in the data set (the row's host time stamp, 1 ms
// steps), over every row that was no hold, the worst board of each row.
//
// --window 0 monitors the same way with no window at all: the figures the
// window's are to be compared with.
//
//   view_bench [--boards 1] [--seconds 60] [--settle 3] [--window 1]
#include <QApplication>
#include <QTimer>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "app/Session.h"
#include "bench/harness.h"
#include "gui/view/ViewWindow.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "sim/World.h"

namespace {

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// When each board sent the packet that carries a channel-1 count.
class SendTimes final : public sim::PacketSink {
public:
    explicit SendTimes(int boards) : at_(static_cast<size_t>(boards)) {}
    void packet(int board, const sim::PacketRecord& r) override {
        std::lock_guard<std::mutex> lk(mu_);
        at_[static_cast<size_t>(board)][r.counts[0]] = r.timeUs;
    }
    std::int64_t sentUs(int board, std::int32_t count) {
        std::lock_guard<std::mutex> lk(mu_);
        auto& m = at_[static_cast<size_t>(board)];
        auto it = m.find(count);
        return it == m.end() ? -1 : it->second;
    }

private:
    std::mutex mu_;
    std::vector<std::unordered_map<std::int32_t, std::int64_t>> at_;
};

}  // namespace

int main(int argc, char** argv) {
    int boards = 1;
    double seconds = 60, settle = 3;
    bool window = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--boards")) boards = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--settle")) settle = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--window")) window = std::atoi(argv[i + 1]) != 0;
        else {
            std::fprintf(stderr, "usage: view_bench [--boards 1] [--seconds 60] [--settle 3] [--window 1]\n");
            return 2;
        }
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication qapp(argc, argv);

    mbeeg::serial::setRealPortsEnabled(false);
    sim::SimConfig sc;
    sc.boards = boards;
    sc.keepLog = false;
    sim::SimRig rig(sc);
    SendTimes sent(boards);
    rig.world()->setPacketSink(&sent);
    rig.plugIn();

    app::SessionOptions opts;
    app::Session session(opts);
    view::ViewHooks hooks;
    std::unique_ptr<view::ViewWindow> win;
    if (window) {
        win = std::make_unique<view::ViewWindow>(session, hooks);
        win->show();
    }
    if (window ? !win->monitor() : !(session.connect() && session.startMonitor(static_cast<std::int64_t>(8 * session.sampleRate())))) {
        std::fprintf(stderr, "view_bench: monitoring did not start\n");
        return 1;
    }

    // A reader of its own beside the window's: one channel per board and the
    // host time stamp.
    std::vector<int> cols(static_cast<size_t>(boards), -1);
    int stampCol = -1;
    CMeAcqTrialzq* trial = session.data().getTrial(0);
    for (int c = 0; c < trial->getTotalChannel(); ++c) {
        const CMeAcgChannelzq* ch = trial->getChannel(c);
        if (ch->isEEGChannel() && ch->m_pin == 0 && ch->m_boardIndex < boards) cols[static_cast<size_t>(ch->m_boardIndex)] = c;
        if (ch->isTimeStampChannel()) stampCol = c;
    }
    cols.push_back(stampCol);
    view::RowFeed feed(session.data());
    std::vector<double> rows, prev(static_cast<size_t>(boards), NAN), latencies;
    const double uvPerCount = 4.5 / 8388607.0 / 24.0 * 1e6;
    bool measuring = false;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        const int n = feed.poll(cols, rows, 1 << 20);
        for (int r = 0; r < n; ++r) {
            const double* row = &rows[static_cast<size_t>(r) * cols.size()];
            double worst = -1;
            bool fresh = true;
            for (int b = 0; b < boards; ++b) {
                const double v = row[b];
                fresh = fresh && v != prev[static_cast<size_t>(b)];
                prev[static_cast<size_t>(b)] = v;
                const std::int64_t at = sent.sentUs(b, static_cast<std::int32_t>(std::lround(v / uvPerCount)));
                if (at < 0) fresh = false;
                else worst = std::max(worst, row[boards] - at / 1000.0);
            }
            if (measuring && fresh) latencies.push_back(worst);
        }
    });
    reader.start(100);

    double cpu0 = 0, t0 = 0;
    std::size_t frames0 = 0;
    QTimer::singleShot(static_cast<int>(settle * 1000), [&] {
        measuring = true;
        cpu0 = cpuSeconds();
        t0 = bench::nowS();
        frames0 = win ? win->frameMs().size() : 0;
    });
    QTimer::singleShot(static_cast<int>((settle + seconds) * 1000), [&] { QApplication::quit(); });
    qapp.exec();

    const double wall = bench::nowS() - t0, cpu = cpuSeconds() - cpu0;
    std::vector<double> frameMs;
    if (win) frameMs.assign(win->frameMs().begin() + static_cast<long>(frames0), win->frameMs().end());
    std::printf("boards=%d seconds=%.0f fps=%.1f cpu_pct=%.1f frame_ms_p99=%.2f acq_latency_p99_ms=%.1f rows=%zu skipped_rows=%lld\n",
                boards, wall, static_cast<double>(frameMs.size()) / wall, 100.0 * cpu / wall,
                bench::percentile(frameMs, 0.99), bench::percentile(latencies, 0.99), latencies.size(),
                static_cast<long long>(feed.skipped()));
    session.stop();
    win.reset();
    rig.world()->setPacketSink(nullptr);
    return 0;
}
