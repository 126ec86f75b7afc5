#include "app/RecordSettings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "app/Console.h"
#include "app/Session.h"
#include "board/BoardCommands.h"
#include "common/OptionTables.h"
#include "geometry/ElectrodeTables.h"

namespace app {
namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isGain(int g) { return g == 1 || g == 2 || g == 4 || g == 6 || g == 8 || g == 12 || g == 24; }

// yes/no, on/off, 1/0, true/false; -1 for anything else.
int yesNo(const std::string& v) {
    const std::string l = lower(v);
    if (l == "yes" || l == "on" || l == "1" || l == "true") return 1;
    if (l == "no" || l == "off" || l == "0" || l == "false") return 0;
    return -1;
}

void merge(ChannelSetup& into, const ChannelSetup& from) {
    if (from.powerDown >= 0) into.powerDown = from.powerDown;
    if (from.gain > 0) into.gain = from.gain;
    if (from.bias >= 0) into.bias = from.bias;
    if (from.srb2 >= 0) into.srb2 = from.srb2;
    if (from.srb1 >= 0) into.srb1 = from.srb1;
    if (!from.input.empty()) into.input = from.input;
    if (!from.label.empty()) into.label = from.label;
}

// Positions of the templates come in the template's own frame; a recording
// states them in one: the head frame of the analysis tools (x to the right,
// y to the front, z up, origin between the ears), in metres.
void putElectrodesInHeadFrame(CDriveOpnBciMutiBoardzq& drv, CMeAcqDatazq& data, int eegChannels) {
    ChnGeomList* list = drv.getHdwrAcg();
    if (!list) return;
    const int table = electrodeTableFor(eegChannels);
    const ELCTD_TABLE t = electrodeTable(table);
    auto find = [&](const wchar_t* name) -> const ELCTD_POS_NAME_PXYZ* {
        for (int i = 0; i < t.count; ++i)
            if (std::wstring(t.rows[i].name) == name) return &t.rows[i];
        return nullptr;
    };
    // Frame of T1-T4 and T6: x left, y up, z back, mm, ears off the origin.
    // T5, T7, T8: x front, y left, z up, a sphere of radius 100 mm. T9, T10:
    // the nets' own frame, x right, y front, z up, in cm.
    const bool earFrame = table <= 3 || table == 5, netFrame = table >= 8;
    double cy = 0, cz = 0;
    if (earFrame)
        if (const auto *a1 = find(L"A1"), *a2 = find(L"A2"); a1 && a2) cy = (a1->y + a2->y) / 2, cz = (a1->z + a2->z) / 2;
    for (std::uint32_t i = 0; i < list->Size(); ++i) {
        CAcqChnlGeomzq* g = (*list)[i];
        CEEGelectrode* e = g && g->m_kind == GEOM_KIND_EEG ? g->getElectrode() : nullptr;
        if (!e) continue;
        const double x = e->m_x, y = e->m_y, z = e->m_z;
        if (earFrame) e->m_x = -x / 1000, e->m_y = -(z - cz) / 1000, e->m_z = (y - cy) / 1000;
        else if (netFrame) e->m_x = x / 100, e->m_y = y / 100, e->m_z = z / 100;
        else e->m_x = -y / 1000, e->m_y = x / 1000, e->m_z = z / 1000;
    }
    data.m_electrodeFrame = "head: x to the right, y to the front, z up, origin between the ears";
    data.m_electrodeUnit = "m";
}

}  // namespace

void addRunSetupOptions(CLI::App* cmd, RunSetup& s, bool recording) {
    cmd->add_option("--gain", s.gain, "Amplifier gain of every channel, set before the stream starts (default: 24)")
        ->check(CLI::IsMember({1, 2, 4, 6, 8, 12, 24}));
    cmd->add_option("--settings", s.settingsPath,
                    "INI file of channel settings: [all] or [channel N] sections with power, gain, input, bias, "
                    "srb2, srb1, label");
    if (!recording) return;
    cmd->add_option("--subject", s.subject, "Subject code, for the file header and the sidecar");
    cmd->add_option("--session", s.session, "Session or investigation code, for the file header and the sidecar");
    cmd->add_option("--note", s.note, "Free text about the recording, for the file header and the sidecar");
}

std::string readChannelSettings(const std::string& text, std::map<int, ChannelSetup>& channels) {
    std::istringstream in(text);
    int lineNo = 0, channel = -1;  // 0: [all]
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        const std::string at = "line " + std::to_string(lineNo) + ": ";
        if (const size_t c = line.find_first_of("#;"); c != std::string::npos) line.erase(c);
        line = trim(line);
        if (line.empty()) continue;
        if (line.front() == '[') {
            const std::string name = lower(trim(line.substr(1, line.find(']') - 1)));
            char tail = 0;
            if (line.back() != ']') return at + "a section is written [all] or [channel N]";
            if (name == "all") channel = 0;
            else if (std::sscanf(name.c_str(), "channel %d%c", &channel, &tail) != 1 || channel < 1)
                return at + "unknown section [" + name + "]; sections are [all] and [channel N], N from 1";
            inSection = true;
            channels[channel];
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return at + "expected key = value";
        if (!inSection) return at + "a setting before any [all] or [channel N] section";
        const std::string key = lower(trim(line.substr(0, eq))), value = trim(line.substr(eq + 1));
        ChannelSetup& c = channels[channel];
        int* flag = key == "bias" ? &c.bias : key == "srb2" ? &c.srb2 : key == "srb1" ? &c.srb1 : nullptr;
        if (flag) {
            if ((*flag = yesNo(value)) < 0) return at + key + " is yes or no, not '" + value + "'";
        } else if (key == "power") {
            const int on = yesNo(value);
            if (on < 0) return at + "power is on or off, not '" + value + "'";
            c.powerDown = on ? 0 : 1;
        } else if (key == "gain") {
            c.gain = std::atoi(value.c_str());
            if (!isGain(c.gain) || value.find_first_not_of("0123456789") != std::string::npos)
                return at + "gain " + value + " is not one of 1, 2, 4, 6, 8, 12, 24";
        } else if (key == "input") {
            int code = -1;
            for (int i = 0; i < INPUT_TYPE_ROWS; ++i)
                if (lower(inputTypeName(i)) == lower(value)) code = i;
            if (code < 0) return at + "input '" + value + "' is not one of Normal, Shorted, BIAS Meas, MVDD, Temp, "
                                      "Test Signals, BIAS DRP, BIAS DRN";
            c.input = inputTypeName(code);
        } else if (key == "label") {
            if (value.empty() || value.size() > 12) return at + "a label has 1 to 12 characters";
            c.label = value;
        } else {
            return at + "unknown setting '" + key + "' (power, gain, input, bias, srb2, srb1, label)";
        }
    }
    return {};
}

std::string checkRunSetup(RunSetup& s, int maxChannels) {
    s.channels.clear();
    if (!s.settingsPath.empty()) {
        std::ifstream f(s.settingsPath);
        if (!f) return "--settings " + s.settingsPath + ": cannot be read";
        std::stringstream text;
        text << f.rdbuf();
        if (std::string why = readChannelSettings(text.str(), s.channels); !why.empty())
            return "--settings " + s.settingsPath + ": " + why;
    }
    for (const auto& [ch, c] : s.channels)
        if (ch > maxChannels)
            return "--settings " + s.settingsPath + ": channel " + std::to_string(ch) + " is out of range; " +
                   "at most " + std::to_string(maxChannels) + " channels can be connected";
    return {};
}

int applyRunSetup(Session& s, const RunSetup& setup) {
    auto& drv = s.driver();
    const int per = s.config().m_linkType == 7 ? 16 : 8;
    const int n = per * s.boards();
    for (const auto& [ch, c] : setup.channels)
        if (ch > n) {
            error("--settings " + setup.settingsPath + ": channel " + std::to_string(ch) + " is out of range; the " +
                  std::to_string(s.boards()) + " board(s) have channels 1 to " + std::to_string(n));
            return 2;
        }
    ChnGeomList* list = drv.getHdwrAcg();
    if (!list) return 1;
    // configureChannels takes the list position as the channel: the ones to
    // leave alone stay empty.
    ChnGeomList send;
    std::vector<CStringA> frames(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        CAcqChnlGeomzq* g = static_cast<std::uint32_t>(i) < list->Size() ? (*list)[static_cast<std::uint32_t>(i)] : nullptr;
        auto* p = g && g->m_hdwrParamKind == OPENBCIPARAM_BLOCK_KIND ? static_cast<OPENBCIPARAMV1*>(g->getHdwrParam())
                                                                     : nullptr;
        ChannelSetup c;
        c.gain = setup.gain;
        if (auto all = setup.channels.find(0); all != setup.channels.end()) merge(c, all->second);
        if (auto one = setup.channels.find(i + 1); one != setup.channels.end()) merge(c, one->second);
        if (g && !c.label.empty()) g->m_name = CString(c.label.c_str());
        // What the boards have after discovery's defaults; only a change is sent.
        const bool change = c.powerDown == 1 || (c.gain > 0 && c.gain != 24) || (!c.input.empty() && c.input != "Normal") ||
                            c.bias == 0 || c.srb2 == 0 || c.srb1 == 1;
        send.Add(p && change ? g : nullptr);
        if (!p || !change) continue;
        p->powerDown = c.powerDown == 1;
        p->gain = c.gain > 0 ? c.gain : 24;
        p->inputTypeText = c.input.empty() ? "Normal" : c.input.c_str();
        p->includeBias = c.bias != 0;
        p->srb2 = c.srb2 != 0;
        p->srb1 = c.srb1 == 1;
        int pin = 0;
        const char letter = drv.getChar4Chnl(i, pin);
        frames[static_cast<size_t>(i)] =
            board::channelFrame(letter, p->powerDown != 0, board::gainCodeOf(p->gain),
                                board::inputTypeCodeOf(p->inputTypeText), !p->powerDown && p->includeBias,
                                !p->powerDown && p->srb2, p->srb1 != 0);
    }
    bool any = false;
    for (const auto& f : frames) any = any || !f.IsEmpty();
    if (any) {
        progress("setting up the channels");
        (void)drv.configureChannels(send, 0);
        progressDone();
        // What the boards were sent, the trackers read: the microvolts follow.
        for (int i = 0; i < n; ++i) {
            CConfigComRadiozq* d = drv.m_dongles[static_cast<size_t>(i / per)];
            if (!frames[static_cast<size_t>(i)].IsEmpty() && d && d->m_pTrackGain)
                d->m_pTrackGain->apply_config(frames[static_cast<size_t>(i)].GetString());
        }
        for (CConfigComRadiozq* d : drv.m_dongles)
            if (d && d->m_pSerialPort && !d->m_pSerialPort->isOpen()) {
                error("the channel settings did not reach board " + platform::narrow(d->m_portName.str()) + ": " +
                      d->m_pSerialPort->lastError().str());
                return 1;
            }
    }
    s.data().m_subject = setup.subject;
    s.data().m_session = setup.session;
    s.data().m_note = setup.note;
    putElectrodesInHeadFrame(drv, s.data(), n);
    return 0;
}

}  // namespace app
