// Commands that talk to one dongle's radio or to the boards' command set.
#include <cstdio>

#include "app/Commands.h"
#include "app/Console.h"
#include "app/Output.h"
#include "app/SimHardware.h"
#include "common/OptionTables.h"
#include "platform/clock.h"
#include "serialport/ComAlias.h"

namespace app {
namespace {

std::string narrowOf(const CStringA& s) { return s.str(); }

// The driver looks for "COM" in port names: a device path becomes its alias.
CString portNameOf(const std::string& given) {
    std::string path = mbeeg::serial::pathForName(given);
    std::string alias = given;
    if (given.rfind("COM", 0) != 0 && given.rfind("com", 0) != 0) alias = mbeeg::serial::aliasForPath(given);
    if (path.empty() && given.rfind("/", 0) == 0) alias = mbeeg::serial::aliasForPath(given);
    for (auto& c : alias) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return CString(alias.c_str());
}

// "COM106 (/dev/pts/5)": the alias the driver uses and the device behind it.
std::string portLabel(const CConfigComRadiozq& d) {
    std::string alias = platform::narrow(d.m_portName.str());
    std::string path = mbeeg::serial::pathForName(alias);
    return path.empty() || path == alias ? alias : alias + " (" + path + ")";
}

// Success: the outcome on stdout (the dongle's own words with --trace). Failure: one line
// on stderr that names the port and what went wrong.
int report(const CConfigComRadiozq& d, int ok, const std::string& what, const std::string& action, double seconds) {
    if (ok) {
        const std::string port = platform::narrow(d.m_portName.str());
        if (console().json)
            printJson(JsonObject().add("port", port).add("ok", true).add("result", what).str());
        else
            std::printf("%s: %s\n", port.c_str(), what.c_str());
        // The dongle's own words are for those who trace the exchange.
        if (console().trace || console().verbose) note("dongle: " + oneLine(narrowOf(d.m_statusText)));
        return 0;
    }
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    if (d.m_lastReply.IsEmpty())
        error(portLabel(d) + ": " + what + ": no answer to 'radio " + action + "' within " + took +
              ": is a dongle on this port, plugged in, and not used by another program?");
    else
        error(portLabel(d) + ": " + what + ": " + oneLine(firmwareWords(narrowOf(d.m_statusText))));
    return 1;
}

double secondsSince(std::int64_t t0Us) { return static_cast<double>(platform::clock().nowUs() - t0Us) / 1e6; }

}  // namespace

std::string checkRadioArgs(const RadioArgs& a) {
    const std::string v = std::to_string(a.value);
    if (a.action == "set" || a.action == "override") {
        if (!a.hasValue) return "radio " + a.action + " needs a radio channel from 1 to 25";
        if (a.value < 1 || a.value > 25)
            return "radio " + a.action + ": radio channel " + v + " is out of range; channels are 1 to 25";
    } else if (a.action == "poll") {
        if (a.hasValue && (a.value < 0 || a.value > 255))
            return "radio poll: poll time " + v + " is out of range; poll times are 0 to 255";
    } else if (a.action == "baud") {
        if (!a.hasValue || a.value < 0 || a.value > 2)
            return "radio baud: " + (a.hasValue ? "row " + v + " is out of range" : std::string("a row is needed")) +
                   "; rows are 0 to 2 (0: 115200, 1: 230400, 2: 921600)";
    } else if (a.hasValue) {
        return "radio " + a.action + " takes no value (given " + v + ")";
    }
    return {};
}

int runRadio(const SessionOptions& opts, const RadioArgs& a) {
    if (std::string bad = checkRadioArgs(a); !bad.empty()) {
        error(bad);
        return 2;
    }
    std::unique_ptr<SimHardware> sim;
    if (opts.sim.boards > 0) sim = std::make_unique<SimHardware>(opts.sim);

    CConfigComRadiozq d;
    d.m_portName = portNameOf(a.port);
    if (mbeeg::serial::pathForName(platform::narrow(d.m_portName.str())).empty()) {
        error("no such port: " + a.port + " (see 'mbeeg ports')");
        return 1;
    }
    if (!d.checkInitOpenSerialPort(0)) {
        d.closeSerialPorts();
        // The dongle object's line set-up after the failed open hides why it
        // failed: open once more to learn the reason.
        CMegSerialPortzq probe;
        probe.openRW(d.m_portName, 1, 1);
        std::string why = probe.lastError().str();
        probe.closeCom(0);
        if (why.empty()) why = "the port opened, but its line could not be set up";
        const std::string path = mbeeg::serial::pathForName(platform::narrow(d.m_portName.str()));
        if (!path.empty() && why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
        error("cannot open " + portLabel(d) + ": " + why);
        return 1;
    }
    const std::int64_t t0 = platform::clock().nowUs();
    d.m_lastReply.Empty();
    int ok = 0;
    std::string what;
    if (a.action == "get") {
        ok = d.get_channelDeviceHost(nullptr);
        what = ok ? "radio channel " + std::to_string(d.m_radioChnl) : "channel not read";
    } else if (a.action == "set") {
        ok = d.alignDeviceHostChannels(nullptr, static_cast<std::uint8_t>(a.value));
        what = ok ? "board and dongle on channel " + std::to_string(d.m_radioChnl) : "channel not set";
    } else if (a.action == "override") {
        ok = d.set_channelHostOverrideDongle(nullptr, a.value);
        what = ok ? "dongle forced to channel " + std::to_string(d.m_hostChnl) : "override failed";
    } else if (a.action == "scan") {
        ok = d.scan_channels(nullptr);
        what = ok ? "board found on channel " + std::to_string(d.m_radioChnl) : "no board answered on channels 1-25";
    } else if (a.action == "poll") {
        if (a.hasValue) {
            ok = d.setRadioPolltime(static_cast<std::uint8_t>(a.value), 0);
            what = ok ? "poll time " + std::to_string(d.m_pollTime) : "poll time not set";
        } else {
            d.getRadioPolltime(0);
            ok = d.m_statusText.Find("Success") >= 0;
            what = ok ? "poll time " + std::to_string(d.m_pollTime) : "poll time not read";
        }
    } else if (a.action == "baud") {
        ok = d.setHost2DriverBaudRate(nullptr, a.value);
        what = ok ? "dongle-to-PC baud " + std::to_string(d.m_baudRate) : "baud rate not set";
    } else {
        ok = d.system_status(nullptr);
        what = ok ? "radio link up" : "radio link down";
    }
    int rc = report(d, ok, what, a.action + (a.hasValue ? " " + std::to_string(a.value) : ""), secondsSince(t0));
    d.closeSerialPorts();
    return rc;
}

std::string checkBoardArgs(const BoardArgs& a) {
    const std::string& c = a.command;
    const std::string idx = std::to_string(a.index);
    if (c == "set" || c == "on" || c == "off") {
        if (a.channel == -1) return "board " + c + " needs --channel N (counted from 1 across all boards)";
        if (a.channel < 1)
            return "board " + c + ": channel " + std::to_string(a.channel) +
                   " is out of range; channels are counted from 1 (8 per board, 16 with Daisy)";
    }
    if (c == "test-signal" && (a.index < 0 || a.index > 5))
        return a.index == -1 ? "board test-signal needs --index from 0 to 5"
                             : "board test-signal: index " + idx + " is out of range; indexes are 0 to 5";
    if (c == "sd-start" && (a.index < 1 || a.index > 8))
        return a.index == -1 ? "board sd-start needs --index from 1 to 8 (5 minutes to 24 hours)"
                             : "board sd-start: index " + idx + " is out of range; indexes are 1 to 8 (5 minutes to 24 hours)";
    if (c == "mode" && (a.index < 0 || a.index > 6))
        return a.index == -1 ? "board mode needs --index from 0 to 6"
                             : "board mode: index " + idx + " is out of range; modes are 0 to 6";
    if (c == "timestamp" && a.value.empty()) return "board timestamp needs --value on or off";
    return {};
}

int runBoard(const SessionOptions& opts, const BoardArgs& a) {
    const std::string& c = a.command;
    if (std::string bad = checkBoardArgs(a); !bad.empty()) {
        error(bad);
        return 2;
    }
    bool needsChannel = c == "set" || c == "on" || c == "off";
    int perBoard = opts.link == 7 ? 16 : 8;
    // At most 25 boards fit on the 25 radio channels; with built-in boards
    // their number is known before anything is sent.
    int mostBoards = opts.sim.boards > 0 ? opts.sim.boards : 25;
    if (needsChannel && a.channel > perBoard * mostBoards) {
        error("board " + c + ": channel " + std::to_string(a.channel) + " is out of range; " +
              (opts.sim.boards > 0 ? "the " + std::to_string(mostBoards) + " board(s) have" : std::string("at most 25 boards have")) +
              " channels 1 to " + std::to_string(perBoard * mostBoards));
        return 2;
    }
    Session s(opts);
    if (!s.connect()) return 1;
    auto& drv = s.driver();
    int channels = (s.config().m_linkType == 7 ? 16 : 8) * s.boards();
    if (needsChannel && a.channel > channels) {
        error("board " + c + ": channel " + std::to_string(a.channel) + " is out of range; the " +
              std::to_string(s.boards()) + " board(s) have channels 1 to " + std::to_string(channels));
        return 2;
    }
    unsigned ch = static_cast<unsigned>(a.channel - 1);
    CStringA out;
    if (c == "set") {
        int input = 0;
        for (int i = 0; i < INPUT_TYPE_ROWS; ++i)
            if (CStringA(inputTypeName(i)).CompareNoCase(a.input.c_str()) == 0) input = i;
        out = drv.sendChannelCommands(ch, a.powerDown ? 1 : 0, CDriveOpnBciMutiBoard02Setup::gainCodeOf(a.gain),
                                      static_cast<unsigned>(input), !a.noBias, !a.noSrb2, a.srb1, 1);
    } else if (c == "on" || c == "off") {
        out = drv.turnOnOffChnl(ch, c == "on" ? 1 : 0, 1);
    } else if (c == "test-signal") {
        out = drv.testSignalCtrlCmd(a.index, 1);
    } else if (c == "defaults") {
        out = drv.resetAllChnl2default(1);
    } else if (c == "default-report") {
        out = drv.getDefault4AllChnl(1);
    } else if (c == "reset") {
        out = drv.resetBoard(0);
    } else if (c == "query") {
        out = drv.queryDeviceSettings(1);
    } else if (c == "version") {
        out = drv.getOpenBciFirmwareVersion(1);
    } else if (c == "sd-start") {
        out = drv.startSDcardRecord(static_cast<std::uint8_t>(sdCardLogRow(a.index)->command[0]), 1);
    } else if (c == "sd-stop") {
        out = drv.stopSDcardRecord(1);
    } else if (c == "daisy-attach") {
        out = drv.daisyModuleAttach(1);
    } else if (c == "daisy-remove") {
        out = drv.daisyModuleRemove(1);
    } else if (c == "mode") {
        out = drv.setBoardMode4AuxByte(static_cast<std::uint8_t>('0' + a.index), 1);
    } else if (c == "mode-get") {
        out = drv.getBoardMode4AuxByte(1);
    } else {
        out = drv.turnTimeStamp(a.value == "on" ? 1 : 0, 1);
    }
    // An empty answer, a blank or "Er" is what the driver gives when no board
    // took the command; its failure texts say "failed".
    CStringA trimmed = out;
    trimmed.Trim();
    bool failed = out.Find("failed") >= 0 || trimmed.IsEmpty() || trimmed == "Er";
    if (failed) {
        error("board " + c + ": " + (trimmed.IsEmpty() || trimmed == "Er" ? std::string("no board took the command")
                                                                           : oneLine(firmwareWords(out.str()))));
        return 1;
    }
    if (console().trace || console().verbose) note("boards: " + oneLine(out.str()));
    std::string said = boardReplies(out.str(), s.boards());
    // Commands the boards take without words: say what was done.
    if (said.empty() || said == "OK") {
        const std::string chan = "channel " + std::to_string(a.channel) + " (board " +
                                 std::to_string(static_cast<int>(ch) / (channels / s.boards()) + 1) + ", pin " +
                                 std::to_string(static_cast<int>(ch) % (channels / s.boards()) + 1) + ")";
        if (c == "set")
            said = chan + " set: " + (a.powerDown ? "powered down" : "on") + ", gain " + std::to_string(a.gain) +
                   ", input " + a.input + ", bias " + (a.noBias ? "off" : "on") + ", SRB2 " +
                   (a.noSrb2 ? "off" : "on") + ", SRB1 " + (a.srb1 ? "on" : "off");
        else if (c == "on" || c == "off")
            said = chan + " switched " + c;
        else
            said = "board " + c + ": done";
    }
    if (console().json) {
        printJson(JsonObject().add("command", c).add("ok", true).add("result", said).str());
        return 0;
    }
    std::printf("%s\n", said.c_str());
    return 0;
}

}  // namespace app
