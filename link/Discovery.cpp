#include "link/Discovery.h"

#include <map>
#include <memory>
#include <new>
#include <set>

#include "host/AcqFramework.h"

namespace discovery {
namespace {
// A dongle that is not kept goes with its port (its destructor closes it).
void discard(CConfigComRadiozq* dongle) { delete dongle; }

// What the user must hear of goes to the status log and the findings.
void note(Findings* findings, const CString& text) {
    CAcqDriver02Prcs::addInfoStatus(text);
    if (findings) findings->notes.push_back(text);
}

// A dongle left out is named, so the user sees which one.
void reportLeftOut(Findings* findings, const CString& port, const CString& why) {
    CString text;
    text.Format(L"%s: %s; left out", port.GetString(), why.GetString());
    note(findings, text);
}

CString portOf(const CConfigComRadiozq* d) { return d->m_pSerialPort ? d->m_pSerialPort->getPortName() : d->m_portName; }

int count(const CStringA& text, const char* what) {
    int n = 0;
    for (int at = text.Find(what); at >= 0; at = text.Find(what, at + 1)) ++n;
    return n;
}

// Every board that hears the "d" answers it: two answers through one
// dongle are two boards on its channel.
int sendDefaults(CConfigComRadiozq* dongle) {
    if (!dongle->m_pSerialPort) return 0;
    CStringA reply;
    dongle->m_pSerialPort->sendCmdGetRspst("d", reply, 10);
    // That read ends with the first answer; a second board's may still be
    // in the adapter, held for its 16 ms latency timer.
    if (!reply.IsEmpty()) reply += dongle->m_pSerialPort->readSynWaitAll2StrA(10, 40);
    return count(reply, "$$$");
}

// Two boards on one channel: every dongle there hears both, and a channel
// command moves both. Says so once per channel.
void noteSharedChannels(const std::vector<CConfigComRadiozq*>& found, const std::vector<int>& answers,
                        Findings* findings) {
    std::map<int, std::vector<CString>> byChannel;
    for (const CConfigComRadiozq* d : found)
        if (d->m_confirmedChnl > 0) byChannel[d->m_confirmedChnl].push_back(portOf(d));
    for (const auto& [channel, ports] : byChannel) {
        if (ports.size() < 2) continue;
        CString names;
        for (size_t i = 0; i < ports.size(); ++i)
            names += (i == 0 ? L"" : (i + 1 == ports.size() ? L" and " : L", ")) + ports[i];
        CString text;
        text.Format(L"%s have their boards on one radio channel (%d): each dongle hears every board there and "
                    L"one channel command would move them all; give every board its own channel, one board at a "
                    L"time",
                    names.GetString(), channel);
        note(findings, text);
        if (findings) findings->sharedChannel = true;
    }
    for (size_t k = 0; k < found.size() && k < answers.size(); ++k) {
        if (answers[k] < 2 || byChannel[found[k]->m_confirmedChnl].size() > 1) continue;
        CString text;
        text.Format(L"%s hears %d boards on radio channel %d: their samples would mix; give every board its "
                    L"own channel, one board at a time",
                    portOf(found[k]).GetString(), answers[k], found[k]->m_confirmedChnl);
        note(findings, text);
        if (findings) findings->sharedChannel = true;
    }
}

// A dongle on an opened port, or null (said why) when the port does not
// open or take its line settings.
CConfigComRadiozq* openDongle(const CString& name, Findings* findings) {
    CMegSerialPortzq* port = new CMegSerialPortzq();
    CConfigComRadiozq* dongle = new (std::nothrow) CConfigComRadiozq();
    if (!dongle) {
        delete port;
        return nullptr;
    }
    dongle->m_pSerialPort = port;
    if (!port->openSynRW(name, 1) || !port->setting4UsbVc(1000, 0)) {
        reportLeftOut(findings, name, L"the port does not open (" + CString(port->lastError()) + L")");
        discard(dongle);
        return nullptr;
    }
    return dongle;
}
}  // namespace

bool isDonglePort(const QSerialPortInfoPrivate& p) {
    return p.portName.Find(L"COM") >= 0 && p.device.Find(L"FTDIBUS\\VID_0403") >= 0;
}

void findBoards(const CStringArray& ports, std::vector<CConfigComRadiozq*>& found, Findings* findings) {
    std::vector<CConfigComRadiozq*> silent;
    try {
        for (int i = 0; i < ports.GetSize(); ++i) {
            CConfigComRadiozq* dongle = openDongle(ports[i], findings);
            if (!dongle) continue;
            if (dongle->get_channelDeviceHost(nullptr)) {
                found.push_back(dongle);
            } else if (dongle->m_lastReply.IsEmpty()) {
                // Not a byte back: no dongle firmware behind this port, and a
                // channel search would only write radio frames into the void.
                note(findings, L"no dongle answers on " + ports[i] + L"; left out");
                discard(dongle);
            } else {
                dongle->m_confirmedChnl = -1;
                silent.push_back(dongle);
            }
        }

        std::vector<int> answers;
        if (silent.empty()) {
            for (CConfigComRadiozq* d : found) answers.push_back(sendDefaults(d));
            noteSharedChannels(found, answers, findings);
            return;
        }
        // The paired dongles' ports rest while the silent ones scan; they
        // are opened again, and their boards reset, once every scan is done.
        for (CConfigComRadiozq* d : found)
            if (d->m_pSerialPort) d->m_pSerialPort->closeCom(0);
        for (size_t k = 0; k < silent.size(); ++k) {
            CConfigComRadiozq* d = silent[k];
            if (d->selectRadioChan4HdB(found)) {
                d->get_channelDeviceHost(nullptr);
                d->m_pSerialPort->closeCom(1);
                found.push_back(d);
            } else {
                reportLeftOut(findings, portOf(d), L"no board answers on any free radio channel");
                discard(d);
            }
            silent[k] = nullptr;
        }
        silent.clear();
        for (CConfigComRadiozq* d : found) {
            CMegSerialPortzq* port = d->m_pSerialPort;
            if (!port) continue;
            port->openSynRW(port->getPortName(), 1);
            port->setting4UsbVc(1000, 0);
            answers.push_back(sendDefaults(d));
        }
        noteSharedChannels(found, answers, findings);
    } catch (...) {
        // What was found stays listed; the silent ones go.
        for (CConfigComRadiozq* d : silent) discard(d);
        throw;
    }
}

std::vector<int> assignChannels(const CStringArray& ports, AssignGuide& guide, std::vector<CString>& lines) {
    const int n = ports.GetSize();
    std::vector<int> given(static_cast<size_t>(n), 0);
    std::vector<std::unique_ptr<CConfigComRadiozq>> dongles(static_cast<size_t>(n));
    Findings opened;
    for (int k = 0; k < n; ++k) dongles[static_cast<size_t>(k)].reset(openDongle(ports[k], &opened));
    auto tell = [&](const CString& line) {
        lines.push_back(line);
        guide.told(line);
    };
    for (const CString& s : opened.notes) tell(s);
    if (!guide.boardsFor(-1, n, CString())) return given;

    std::set<int> taken;
    for (int k = 0; k < n; ++k) {
        CConfigComRadiozq* d = dongles[static_cast<size_t>(k)].get();
        if (!d) continue;
        if (!guide.boardsFor(k, n, ports[k])) return given;
        // Only this board is on: it may be heard on any channel, and a
        // channel command reaches it alone.
        int heard = 0;
        for (int h = 1; h <= 25 && !heard; ++h)
            if (d->set_channelHostOverrideDongle(nullptr, h) && d->system_status(nullptr)) heard = h;
        if (!heard) {
            tell(ports[k] + L": no board answered on any radio channel; is it switched on?");
            continue;
        }
        // Its own channel if no other board was given it, else the first free one.
        std::vector<int> order{heard};
        for (int c = 1; c <= 25; ++c) order.push_back(c);
        for (int c : order) {
            if (taken.count(c)) continue;
            if (c == heard ? d->get_channelDeviceHost(nullptr)
                           : d->alignDeviceHostChannels(nullptr, static_cast<std::uint8_t>(c))) {
                given[static_cast<size_t>(k)] = c;
                taken.insert(c);
                break;
            }
        }
        CString text;
        if (given[static_cast<size_t>(k)])
            text.Format(L"%s: board and dongle on radio channel %d", ports[k].GetString(), given[static_cast<size_t>(k)]);
        else
            text.Format(L"%s: the board was heard on radio channel %d but took no free channel", ports[k].GetString(), heard);
        tell(text);
    }
    guide.boardsFor(n, n, CString());
    return given;
}

}  // namespace discovery
