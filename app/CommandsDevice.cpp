// Commands that talk to one dongle's radio or to the boards' command set.
#include <cstdio>

#include "app/Commands.h"
#include "app/Console.h"
#include "app/SimHardware.h"
#include "geometry/OptionTables.h"
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

int report(CConfigComRadiozq& d, int ok, const std::string& what) {
    std::printf("%s: %s\n%s\n", platform::narrow(d.m_portName.str()).c_str(), what.c_str(),
                narrowOf(d.m_statusText).c_str());
    return ok ? 0 : 1;
}

}  // namespace

int runRadio(const SessionOptions& opts, const RadioArgs& a) {
    if ((a.action == "set" || a.action == "override") && (a.channel < 1 || a.channel > 25)) {
        error("radio " + a.action + " needs a radio channel from 1 to 25");
        return 2;
    }
    if (a.action == "poll" && a.pollTime > 255) {
        error("the poll time must be from 0 to 255");
        return 2;
    }
    if (a.action == "baud" && (a.baudRow < 0 || a.baudRow > 2)) {
        error("radio baud needs a row from 0 to 2 (0: 115200, 1: 230400, 2: 921600)");
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
        error("cannot open " + a.port + ": " + narrowOf(d.m_statusText));
        return 1;
    }
    int rc;
    if (a.action == "get") {
        int ok = d.get_channelDeviceHost(nullptr);
        rc = report(d, ok, ok ? "radio channel " + std::to_string(d.m_radioChnl) : "channel not read");
    } else if (a.action == "set") {
        int ok = d.alignDeviceHostChannels(nullptr, static_cast<std::uint8_t>(a.channel));
        rc = report(d, ok, ok ? "board and dongle on channel " + std::to_string(d.m_radioChnl) : "channel not set");
    } else if (a.action == "override") {
        int ok = d.set_channelHostOverrideDongle(nullptr, a.channel);
        rc = report(d, ok, ok ? "dongle forced to channel " + std::to_string(d.m_hostChnl) : "override failed");
    } else if (a.action == "scan") {
        int ok = d.scan_channels(nullptr);
        rc = report(d, ok, ok ? "board found on channel " + std::to_string(d.m_radioChnl) : "no board answered on channels 1-25");
    } else if (a.action == "poll") {
        if (a.pollTime >= 0) {
            int ok = d.setRadioPolltime(static_cast<std::uint8_t>(a.pollTime), 0);
            rc = report(d, ok, ok ? "poll time " + std::to_string(d.m_pollTime) : "poll time not set");
        } else {
            d.getRadioPolltime(0);
            bool ok = d.m_statusText.Find("Success") >= 0;
            rc = report(d, ok, "poll time " + std::to_string(d.m_pollTime));
        }
    } else if (a.action == "baud") {
        int ok = d.setHost2DriverBaudRate(nullptr, a.baudRow);
        rc = report(d, ok, ok ? "dongle-to-PC baud " + std::to_string(d.m_baudRate) : "baud rate not set");
    } else {
        int ok = d.system_status(nullptr);
        rc = report(d, ok, ok ? "radio link up" : "radio link down");
    }
    d.closeSerialPorts();
    return rc;
}

int runBoard(const SessionOptions& opts, const BoardArgs& a) {
    const std::string& c = a.command;
    bool needsChannel = c == "set" || c == "on" || c == "off";
    if (needsChannel && a.channel < 1) {
        error("board " + c + " needs --channel N (counted from 1 across all boards)");
        return 2;
    }
    if (c == "test-signal" && (a.index < 0 || a.index > 5)) {
        error("board test-signal needs --index from 0 to 5");
        return 2;
    }
    if (c == "sd-start" && (a.index < 1 || a.index > 8)) {
        error("board sd-start needs --index from 1 to 8 (5 minutes to 24 hours)");
        return 2;
    }
    if (c == "mode" && (a.index < 0 || a.index > 6)) {
        error("board mode needs --index from 0 to 6");
        return 2;
    }
    if (c == "timestamp" && a.value.empty()) {
        error("board timestamp needs --value on or off");
        return 2;
    }
    Session s(opts);
    if (!s.connect()) return 1;
    auto& drv = s.driver();
    int perBoard = opts.link == 7 ? 16 : 8;
    int channels = perBoard * s.boards();
    if (needsChannel && a.channel > channels) {
        error("channel " + std::to_string(a.channel) + " is out of range: the boards have channels 1 to " +
              std::to_string(channels));
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
    std::printf("%s\n", out.GetString());
    bool failed = out.Find("failed") >= 0 || out == "Er" || out == " ";
    return failed ? 1 : 0;
}

int runImpedance(const SessionOptions& opts, int dwellMs, int mode) {
    Session s(opts);
    if (!s.connect()) return 1;
    int n = s.boards() >= 2 && s.boards() <= 8 ? 8 * s.boards() : 8;
    int per = dwellMs < 1000 ? 1000 : dwellMs;
    progress("impedance sweep over " + std::to_string(n) + " channels, about " + std::to_string(n * per / 1000) + " s");
    s.driver().impedanceMeasureAllChnl(dwellMs, mode, 1);
    progressDone();
    std::printf("impedance test signal swept over channels 1 to %d (mode %d, %d ms each)\n", n, mode, per);
    return 0;
}

}  // namespace app
