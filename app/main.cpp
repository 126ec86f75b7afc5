// mbeeg: find, set up, monitor and record several Cyton boards at once.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Activity.h"
#include "app/Commands.h"
#include "app/Console.h"
#include "app/Impedance.h"
#include "platform/clock.h"

namespace {

// The first word of the command line that is neither an option nor the value
// of a global option; "" when there is none.
std::string firstCommandWord(int argc, char** argv) {
    static const char* const withValue[] = {"--sim", "--sim-seed", "--sim-drop", "--sim-garbage", "--sim-drift",
                                            "--sim-off", "--sim-unplug", "--sim-truth", "--sim-impedance", "--link", "--retries"};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.empty()) continue;
        if (a[0] == '-') {
            for (const char* w : withValue)
                if (a == w) ++i;
            continue;
        }
        return a;
    }
    return {};
}

std::string commandNames(CLI::App& cli) {
    std::string names;
    for (const CLI::App* sub : cli.get_subcommands([](CLI::App*) { return true; }))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

}  // namespace

// CLI11's ranges let NaN through (every comparison with it is false), and
// infinity is no length or rate either.
const CLI::Validator kFinite(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() && !std::isfinite(v)) return "Value " + text + " is not a finite number";
        return {};
    },
    "FINITE");

int main(int argc, char** argv) {
    CLI::App cli{"mbeeg: acquire EEG from several Cyton boards, each behind its own USB radio dongle"};
    cli.require_subcommand(1);
    cli.fallthrough();
    cli.option_defaults()->always_capture_default();
    cli.set_version_flag("--version", std::string("mbeeg ") + MBEEG_VERSION);
    cli.footer(
        "Environment:\n"
        "  MBEEG_SIM_PORTS   comma-separated pseudo-terminals to take as dongles (mbeeg-sim prints the line)\n"
        "  MBEEG_PROFILE     the settings file (default $XDG_CONFIG_HOME/mbeeg/mbeeg.ini)\n"
        "Examples:\n"
        "  mbeeg --sim 2 record --seconds 10 --out rec.bdf   two simulated boards, 10 s to rec.bdf\n"
        "  mbeeg impedance --json                            every electrode's impedance in kOhm, as JSON\n"
        "  mbeeg monitor --expect-boards 4 --seconds 60      watch four real boards for a minute\n"
        "'mbeeg help COMMAND' or 'mbeeg COMMAND --help' tells more about a command.");

    app::SessionOptions opts;
    app::ConsoleOptions con;
    bool yes = false, no = false;
    cli.add_option("--sim", opts.sim.boards, "Use N built-in simulated boards instead of real dongles")
        ->check(CLI::Range(1, 25));
    cli.add_option("--sim-seed", opts.sim.seed, "Seed of the simulated boards' signals and faults");
    cli.add_option("--sim-drop", opts.sim.dropPercent, "Simulated radio packet loss in percent")
        ->check(kFinite)
        ->check(CLI::Range(0.0, 100.0));
    cli.add_option("--sim-garbage", opts.sim.garbagePerSecond, "Simulated bursts of garbage bytes per second")
        ->check(kFinite)
        ->check(CLI::Range(0.0, 1000.0));
    cli.add_option("--sim-drift", opts.sim.driftPpm, "Simulated board clock drift in ppm")
        ->check(kFinite)
        ->check(CLI::Range(-10000.0, 10000.0));
    // "B:FROM[:TO]": board B off (or its dongle out) from FROM to TO seconds.
    auto outage = [&opts](bool unplug) {
        return [&opts, unplug](const std::vector<std::string>& values) {
            for (const std::string& v : values) {
                app::SimOptions::Outage o;
                o.unplug = unplug;
                char tail = 0;
                const int n = std::sscanf(v.c_str(), "%d:%lf:%lf%c", &o.board, &o.from, &o.to, &tail);
                if (n < 2 || n > 3 || o.board < 1 || o.board > 25 || !std::isfinite(o.from) || o.from < 0 ||
                    (n == 3 && (!std::isfinite(o.to) || o.to <= o.from)))
                    throw CLI::ValidationError(std::string(unplug ? "--sim-unplug" : "--sim-off"),
                                               "Value " + v + " is not BOARD:FROM[:TO] (board 1-25, seconds, TO after FROM)");
                if (n == 2) o.to = -1;
                opts.sim.outages.push_back(o);
            }
        };
    };
    cli.add_option_function<std::vector<std::string>>("--sim-off", outage(false),
                                                      "Simulated board B switched off from FROM to TO seconds: B:FROM[:TO]");
    cli.add_option_function<std::vector<std::string>>("--sim-unplug", outage(true),
                                                      "Simulated dongle B pulled out from FROM to TO seconds: B:FROM[:TO]");
    cli.add_option("--sim-truth", opts.sim.truthPath, "Write every packet the simulated boards made to FILE");
    cli.add_option("--sim-impedance", opts.sim.impedanceKOhms,
                   "Simulated electrode impedances in kOhm, board 1's channels first, used in turn "
                   "(e.g. 5,10,20; default: each drawn from --sim-seed, 3 to 40)")
        ->delimiter(',')
        ->check(CLI::Range(0.0, 1e5))
        ->type_name("KOHM,...");
    cli.add_option("--link", opts.link, "Link type: 6 Cyton (8 channels per board), 7 Cyton with Daisy")
        ->check(CLI::IsMember({6, 7}));
    cli.add_option("--retries", opts.retries, "Connection retry count")->check(CLI::Range(0, 100));
    auto* yesOpt = cli.add_flag("--yes", yes, "Answer yes to the library's questions");
    cli.add_flag("--no", no, "Answer no to the library's questions")->excludes(yesOpt);
    cli.add_flag("-q,--quiet", con.quiet, "No progress lines");
    cli.add_flag("-v,--verbose", con.verbose, "Print the host status log and the library's notices");
    cli.add_flag("--trace", con.trace, "Print every write to a serial port on stderr");
    cli.add_flag("--json", con.json,
                 "Results as JSON on stdout, one object per line: ports, discover, monitor (one per update), "
                 "record's summary, impedance, info");

    auto* ports = cli.add_subcommand("ports", "List the serial ports, dongles marked, with their COMn aliases");
    auto* discover = cli.add_subcommand("discover", "Find and connect the boards, one line per board");

    double monSeconds = 0;
    auto* monitor = cli.add_subcommand("monitor", "Live view: packets per second, lost, rejected, drift, reconnects, uV RMS per channel");
    monitor->add_option("--seconds", monSeconds, "Stop after N seconds (0, the default: until Ctrl-C)")
        ->check(kFinite)
        ->check(CLI::Range(0.0, 1e7));

    // How a run judges its boards; the same for monitor and record.
    app::WatchLimits limits;
    auto addWatchOptions = [&limits](CLI::App* sub) {
        sub->add_option("--expect-boards", limits.expectBoards, "Refuse to start with fewer boards than N (status 4)")
            ->check(CLI::Range(1, 25));
        sub->add_option("--max-lost", limits.maxLostS,
                        "Status 3 when a board was lost longer than this at a stretch, in seconds (default 1)")
            ->check(kFinite)
            ->check(CLI::Range(0.0, 1e7));
        sub->add_option("--silent-stop", limits.silentStopS,
                        "Stop and save (status 5) when every board has been silent this long, in seconds (default 10)")
            ->check(kFinite)
            ->check(CLI::Range(0.1, 1e7));
        sub->footer(app::kExitCodesHelp);
    };
    addWatchOptions(monitor);

    std::string out;
    double recSeconds = 0;
    int trials = 0;
    long long samples = 0;
    bool force = false;
    auto* record = cli.add_subcommand("record", "Record to a BDF+ file (with a JSON sidecar)");
    record->add_option("--out", out, "Output file, a BDF+ file named .bdf (added when the name has no extension)")->required();
    auto* secOpt = record->add_option("--seconds", recSeconds, "Length in seconds")->check(kFinite)->check(CLI::Range(0.004, 1e7));
    auto* trOpt = record->add_option("--trials", trials, "Number of trials")->check(CLI::Range(1, 1000000));
    auto* smOpt = record->add_option("--samples", samples, "Samples per trial")->check(CLI::Range(1LL, 1000000000LL));
    secOpt->excludes(trOpt)->excludes(smOpt);
    trOpt->needs(smOpt);
    smOpt->needs(trOpt);
    record->add_flag("--force", force, "Overwrite an existing file");
    addWatchOptions(record);

    app::RadioArgs radio;
    auto* radioCmd = cli.add_subcommand("radio", "Read or set a dongle's radio link");
    radioCmd->add_option("action", radio.action, "get | set | scan | override | poll | baud | status")
        ->required()
        ->check(CLI::IsMember({"get", "set", "scan", "override", "poll", "baud", "status"}));
    auto* radioValue =
        radioCmd->add_option("value", radio.value, "set/override: radio channel 1-25; poll: poll time 0-255; baud: row 0-2");
    radioCmd->add_option("--port", radio.port, "The dongle's port (COMn or device path)")->required();

    app::BoardArgs board;
    auto* boardCmd = cli.add_subcommand("board", "Send a board command to the connected boards");
    boardCmd->add_option("command", board.command,
                         "set | on | off | test-signal | defaults | default-report | reset | query | version | "
                         "sd-start | sd-stop | daisy-attach | daisy-remove | mode | mode-get | timestamp")
        ->required()
        ->check(CLI::IsMember({"set", "on", "off", "test-signal", "defaults", "default-report", "reset", "query",
                               "version", "sd-start", "sd-stop", "daisy-attach", "daisy-remove", "mode", "mode-get",
                               "timestamp"}));
    boardCmd->add_option("--channel", board.channel, "Channel, counted from 1 across all boards");
    boardCmd->add_option("--gain", board.gain, "Gain for 'set'")->check(CLI::IsMember({1, 2, 4, 6, 8, 12, 24}));
    boardCmd->add_option("--input", board.input, "Input type for 'set'")
        ->check(CLI::IsMember({"Normal", "Shorted", "BIAS Meas", "MVDD", "Temp", "Test Signals", "BIAS DRP",
                               "BIAS DRN"}, CLI::ignore_case));
    boardCmd->add_flag("--power-down", board.powerDown, "'set': power the channel down");
    boardCmd->add_flag("--no-bias", board.noBias, "'set': leave the channel out of the bias drive");
    boardCmd->add_flag("--no-srb2", board.noSrb2, "'set': do not link the input to SRB2");
    boardCmd->add_flag("--srb1", board.srb1, "'set': link all negative inputs to SRB1");
    boardCmd->add_option("--index", board.index,
                         "test-signal: 0-5; sd-start: row 1-8 (5 min .. 24 h); mode: 0-6");
    boardCmd->add_option("--value", board.value, "timestamp: on | off")->check(CLI::IsMember({"on", "off"}));

    app::ImpedanceArgs impArgs;
    auto* imp = cli.add_subcommand("impedance", "Measure every electrode's impedance in kOhm");
    imp->add_option("--dwell", impArgs.dwellMs, "Milliseconds per channel (at least 1000 are held)")
        ->check(CLI::Range(0, 600000));
    imp->add_option("--mode", impArgs.mode,
                    "Test current on 1: the positive input (the electrode), 2: both inputs (electrode and "
                    "reference in series)")
        ->check(CLI::IsMember({1, 2}));
    imp->add_option("--good", impArgs.goodKOhm, "Up to this many kOhm an electrode is good")
        ->check(kFinite)
        ->check(CLI::Range(0.0, 1e5));
    imp->add_option("--fair", impArgs.fairKOhm, "Up to this many kOhm fair; above it bad")
        ->check(kFinite)
        ->check(CLI::Range(0.0, 1e5));
    imp->footer(
        "The boards' 6 nA, 31.25 Hz lead-off current is switched on pin by pin (on every board at once) while "
        "the boards stream; the voltage it makes gives the impedance, less the board's 2.2 kOhm series "
        "resistor. Ctrl-C switches the current off before the program ends. Status 3 when a board sent too "
        "little for some electrodes to get a value.");

    std::string infoPath;
    auto* info = cli.add_subcommand("info", "Summarise a recording read back from its file");
    info->add_option("file", infoPath, "The .bdf file")->required();

    std::string helpTopic;
    auto* help = cli.add_subcommand("help", "Show this help, or a command's");
    help->add_option("command", helpTopic, "The command to explain");

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return cli.exit(e);
        std::string why = e.what();
        if (cli.get_subcommands().empty()) {
            // "A subcommand is required" hides a mistyped command: name it.
            if (std::string word = firstCommandWord(argc, argv);
                !word.empty() && (", " + commandNames(cli) + ", ").find(", " + word + ", ") == std::string::npos)
                why = "unknown command '" + word + "' (commands: " + commandNames(cli) + ")";
        }
        std::fprintf(stderr, "mbeeg: %s\n", app::oneLine(why).c_str());
        return 2;
    }

    // For tests: the same logic on virtual time, so protocol waits cost nothing.
    static platform::VirtualClock virtualClock(1'000'000);
    if (const char* v = std::getenv("MBEEG_VIRTUAL_TIME"); v && *v == '1') platform::setClock(&virtualClock);

    con.answer = yes ? 'y' : (no ? 'n' : 0);
    app::installConsole(con);
    if (con.trace) app::watchSerialActivity();

    if (*help) {
        if (helpTopic.empty()) {
            std::fputs(cli.help().c_str(), stdout);
            return 0;
        }
        for (CLI::App* sub : cli.get_subcommands([](CLI::App*) { return true; }))
            if (sub->get_name() == helpTopic) {
                std::fputs(sub->help().c_str(), stdout);
                return 0;
            }
        app::error("help: unknown command '" + helpTopic + "' (commands: " + commandNames(cli) + ")");
        return 2;
    }
    if (*ports) return app::runPorts(opts);
    if (*discover) return app::runDiscover(opts);
    if (*monitor) return app::runMonitor(opts, monSeconds, limits);
    if (*record) {
        if (!*secOpt && !*trOpt) {
            app::error("record needs --seconds N, or --trials N with --samples S");
            return 2;
        }
        return app::runRecord(opts, out, recSeconds, trials, samples, force, limits);
    }
    if (*radioCmd) {
        radio.hasValue = radioValue->count() > 0;
        return app::runRadio(opts, radio);
    }
    if (*boardCmd) return app::runBoard(opts, board);
    if (*imp) {
        if (impArgs.fairKOhm < impArgs.goodKOhm) {
            app::error("impedance: --fair must be at least --good");
            return 2;
        }
        return app::runImpedance(opts, impArgs);
    }
    if (*info) return app::runInfo(infoPath);
    return 2;
}
