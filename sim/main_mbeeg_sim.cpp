// mbeeg-sim: simulated Cyton boards behind simulated dongles, served as
// pseudo-terminals in real time. Prints "PORT <k> <pty path>" per dongle and a
// line "MBEEG_SIM_PORTS=<paths>" to hand to mbeeg, then serves until SIGINT or
// SIGTERM; with --truth, every packet the boards made goes to a file as it is
// made.
#include <CLI/CLI.hpp>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "sim/PtyServer.h"
#include "sim/SimConfig.h"
#include "sim/TruthFile.h"
#include "sim/World.h"

namespace {
std::atomic<bool> g_stop{false};
void onSignal(int) { g_stop = true; }

std::vector<std::uint8_t> parseFooters(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (item.empty()) continue;
        std::size_t used = 0;
        unsigned long v = 0x100;
        try {
            v = std::stoul(item, &used, 16);
        } catch (const std::exception&) {
        }
        if (used != item.size() || v > 0xFF) throw std::invalid_argument("not a hex byte: " + item);
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated OpenBCI Cyton boards and their USB radio dongles, served as pseudo-terminals."};
    sim::SimConfig cfg;
    sim::BoardConfig faulty;
    sim::DongleConfig faultyDongle;
    int onlyBoard = -1;
    double powerOffAt = -1, powerOnAt = -1, unplugAt = -1, replugAt = -1;
    std::string footers;
    std::string truthPath;
    std::vector<double> impedanceKOhms;
    cfg.usbJitterUs = 300;  // a busy PC does not read the moment a USB packet lands

    app.add_option("--boards", cfg.boards, "Boards, each with its own dongle")->check(CLI::Range(1, 64));
    app.add_option("--seed", cfg.seed, "Seed of signals and faults");
    app.add_flag("--daisy", cfg.board.daisy, "Boards carry a Daisy module");
    app.add_option("--latency-us", cfg.radioLatencyUs, "Radio latency one way")->check(CLI::Range(0, 5000));
    app.add_option("--usb-latency-us", cfg.usbLatencyUs,
                   "FTDI latency timer: bytes go to the PC in USB packets of up to 62, sent when full or when "
                   "this has run out since the last full one (16000: the chip's default; 0: every byte at once)")
        ->check(CLI::Range(0, 16000))
        ->capture_default_str();
    app.add_option("--usb-jitter-us", cfg.usbJitterUs,
                   "Each USB packet reaches the pty up to this much late, at random (from --seed); "
                   "bytes never change order")
        ->check(CLI::Range(0, 100000))
        ->capture_default_str();
    app.add_option("--truth", truthPath,
                   "Write every packet each board made to FILE as the run goes (flushed every 0.25 s and at exit): "
                   "a line '# board index sample dropped c1 c2 c3 c4 c5 c6 c7 c8', then one line per packet: "
                   "board (1-based, PORT k is board k+1), packet index since that board's stream started, "
                   "sample number 0-255, dropped (0 sent, 1 lost on the radio, 2 cut short by a power loss), "
                   "the eight signed 24-bit counts (channels 9-16 on a Daisy's odd packets)")
        ->type_name("FILE");

    app.add_option("--impedance", impedanceKOhms,
                   "Electrode impedances in kOhm, board 1's channels first, used in turn when there are more "
                   "electrodes than values, e.g. 5,10,20 (default: each drawn from --seed, 3 to 40). While a "
                   "channel's lead-off current is on, its input sees the 6 nA, 31.25 Hz square wave through "
                   "the electrode and the board's 2.2 kOhm series resistor")
        ->delimiter(',')
        ->check(CLI::Range(0.0, 1e5))
        ->type_name("KOHM,...");
    app.footer("Example: mbeeg-sim --boards 2 --impedance 5,10,20 &   then   MBEEG_SIM_PORTS=<the printed paths> "
               "mbeeg impedance\nExit status: 0 stopped by a signal, 1 failure, 2 usage error.");

    auto* faults = app.add_option_group("Faults", "Applied to every board, or only to --fault-board");
    faults->add_option("--fault-board", onlyBoard, "Board (0-based) that shows the faults")->check(CLI::Range(0, 63));
    faults->add_option("--drop-rate", faulty.dropRate, "Share of packets lost on the radio")->check(CLI::Range(0.0, 1.0));
    faults->add_option("--drift-ppm", faulty.driftPpm, "Sample clock error in ppm");
    faults->add_option("--footers", footers, "Footers used in turn, hex, e.g. C0,C1,C7");
    faults->add_option("--power-off-at", powerOffAt, "Seconds until the board loses power");
    faults->add_option("--power-off-after-bytes", faulty.powerOffAfterBytes,
                       "The packet in flight at power loss stops after this many bytes")
        ->check(CLI::Range(0, 33));
    faults->add_option("--power-on-at", powerOnAt, "Seconds until the board powers up again");
    bool boardOff = false;
    faults->add_flag("--board-off", boardOff, "Board starts switched off");
    faults->add_option("--board-channel", faulty.channel, "Radio channel of the board")->check(CLI::Range(1, 25));
    faults->add_option("--dongle-channel", faultyDongle.channel, "Radio channel of the dongle")->check(CLI::Range(1, 25));
    faults->add_option("--garbage-rate", faultyDongle.garbageRate, "Chance of a garbage burst after a packet")
        ->check(CLI::Range(0.0, 1.0));
    faults->add_option("--garbage-bytes", faultyDongle.garbageBytes, "Bytes in one garbage burst")->check(CLI::Range(1, 4096));
    faults->add_flag("--dead-dongle", faultyDongle.dead, "The dongle never answers");
    faults->add_option("--baud", faultyDongle.baud, "Dongle-to-PC rate at start")
        ->check(CLI::IsMember({115200u, 230400u, 921600u}));
    faults->add_option("--unplug-at", unplugAt, "Seconds until the dongle is unplugged (the pty stays, silent)");
    faults->add_option("--replug-at", replugAt, "Seconds until it is plugged back");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "mbeeg-sim: %s\n", e.what());
        return 2;
    }
    if (onlyBoard >= cfg.boards) {
        std::fprintf(stderr, "mbeeg-sim: --fault-board %d: there are only %d boards\n", onlyBoard, cfg.boards);
        return 2;
    }
    if (!footers.empty()) {
        try {
            faulty.footers = parseFooters(footers);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "mbeeg-sim: --footers %s: %s\n", footers.c_str(), e.what());
            return 2;
        }
    }
    auto us = [](double s) { return s < 0 ? std::int64_t{-1} : static_cast<std::int64_t>(s * 1e6); };
    faulty.powerOffAtUs = us(powerOffAt);
    faulty.powerOnAtUs = us(powerOnAt);
    faultyDongle.unplugAtUs = us(unplugAt);
    faultyDongle.replugAtUs = us(replugAt);
    faulty.daisy = cfg.board.daisy;
    faulty.powered = !boardOff;

    cfg.keepLog = false;  // a long run keeps no ground truth in memory (--truth writes it out)
    if (onlyBoard < 0) {
        cfg.board = faulty;
        cfg.dongle = faultyDongle;
    } else {
        sim::BoardConfig plain;
        plain.daisy = cfg.board.daisy;
        cfg.perBoard.assign(cfg.boards, plain);
        cfg.perDongle.assign(cfg.boards, sim::DongleConfig{});
        cfg.perBoard[onlyBoard] = faulty;
        cfg.perDongle[onlyBoard] = faultyDongle;
    }
    cfg.setElectrodeKOhms(impedanceKOhms);

    // Before the ports are announced: a client may stop us as soon as it has
    // them, and the truth must still reach the file.
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<sim::TruthWriter> truth;
    if (!truthPath.empty()) {
        truth = std::make_unique<sim::TruthWriter>(truthPath);
        if (!truth->error().empty()) {
            std::fprintf(stderr, "mbeeg-sim: --truth %s\n", truth->error().c_str());
            return 1;
        }
    }
    auto world = std::make_shared<sim::World>(cfg);
    world->setPacketSink(truth.get());
    sim::PtyServer server(world);
    std::string error;
    if (!server.open(error)) {
        std::fprintf(stderr, "mbeeg-sim: %s\n", error.c_str());
        return 1;
    }
    std::string list;
    for (std::size_t k = 0; k < server.slavePaths().size(); ++k) {
        std::printf("PORT %zu %s\n", k, server.slavePaths()[k].c_str());
        list += (k ? "," : "") + server.slavePaths()[k];
    }
    // Ready: the line a shell can take as it is (export "$(...)").
    std::printf("MBEEG_SIM_PORTS=%s\n", list.c_str());
    std::fflush(stdout);

    server.run(g_stop);
    if (truth) {
        world->setPacketSink(nullptr);
        truth->flush();
        if (!truth->error().empty()) {
            std::fprintf(stderr, "mbeeg-sim: --truth %s\n", truth->error().c_str());
            return 1;
        }
    }
    return 0;
}
