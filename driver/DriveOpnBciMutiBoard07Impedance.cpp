#include "driver/DriveOpnBciMutiBoard07Impedance.h"

#include "board/BoardCommands.h"

namespace {
constexpr int kMinDwellMs = 1000;
const char* const kWriteFailed = "Send channel command failed \n";

// Number of driver channels a sweep and the flag toggle cover.
int sweepChannels(size_t dongles) { return dongles >= 2 && dongles <= 8 ? static_cast<int>(8 * dongles) : 8; }
}  // namespace

CDriveOpnBciMutiBoard07Impedance::~CDriveOpnBciMutiBoard07Impedance() = default;

namespace {
// One impedance frame to the board of driver channel c. The board index is not
// clamped: a channel beyond the boards (or a negative one) sends nothing.
CStringA sendImpedanceFrame(CDriveOpnBciMutiBoard07Impedance& drv, int c, char pos, char neg, int reply) {
    int pin = 0;
    char letter = drv.getChar4Chnl(c, pin);
    int per = 8;
    if (drv.m_pConfigUser && drv.m_pConfigUser->m_linkType == LINK_TYPE_CYTON8) {
        per = 8;
        drv.m_chnPerBoard = 8;
    } else if (drv.m_pConfigUser && drv.m_pConfigUser->m_linkType == LINK_TYPE_DAISY16) {
        per = 16;
        drv.m_chnPerBoard = 16;
    }
    if (c < 0) return CStringA();
    int board = c / per;
    pin = c % per;
    if (board >= static_cast<int>(drv.m_dongles.size())) return CStringA();
    CConfigComRadiozq* dongle = drv.m_dongles[static_cast<size_t>(board)];
    if (!dongle || !dongle->m_pSerialPort) return CStringA();
    CMegSerialPortzq* port = dongle->m_pSerialPort;

    const CStringA frame = board::impedanceFrame(letter, pos, neg);
    if (!board::writeFrame(*port, frame)) return CStringA(kWriteFailed);

    // While state 4 holds, the port's input belongs to the stream reader.
    if (!reply || drv.m_connState == ConnState::Streaming) return CStringA();
    CAcqDriver02Prcs::addInfoStatus(port->getPortName());
    CStringA header;
    header.Format("\n send command:%s ->chnl:%d\n", frame.GetString(), pin);
    const CStringA text = board::readReply(*port, header);
    CAcqDriver02Prcs::addInfoStatus(CString(text));
    return text;
}
}  // namespace

CStringA CDriveOpnBciMutiBoard07Impedance::impedanceMeasureStart(int channel, int mode, int reply) {
    char pos = '0', neg = '0';
    // No frame exists for another mode; nothing goes to the board.
    if (!board::impedanceInputs(mode, pos, neg)) return CStringA(kWriteFailed);
    return sendImpedanceFrame(*this, channel, pos, neg, reply);
}

CStringA CDriveOpnBciMutiBoard07Impedance::impedanceMeasureStop(int channel, int reply) {
    return sendImpedanceFrame(*this, channel, '0', '0', reply);
}

CStringA CDriveOpnBciMutiBoard07Impedance::impedanceMeasureAllChnl(int dwellMs, int mode, int reply) {
    if (!m_pDevice) return CStringA();
    if (!m_dongles.empty()) rebuildChnGeom();
    if (!m_pDevice) return CStringA();
    int n = sweepChannels(m_dongles.size());
    DWORD dwell = static_cast<DWORD>(dwellMs < kMinDwellMs ? kMinDwellMs : dwellMs);
    for (int c = 0; c < n; ++c) {
        (void)impedanceMeasureStart(c, mode, reply);
        Sleep(dwell);
        (void)impedanceMeasureStop(c, reply);
    }
    return CStringA();
}

int CDriveOpnBciMutiBoard07Impedance::impedanceCheckToggle(int channel) {
    if (!m_pDevice) return 0;
    if (!m_dongles.empty()) rebuildChnGeom();
    if (!m_pDevice) return 0;
    if (channel < 0) return 0;
    size_t n = m_dongles.size();
    if (n >= 2 && n <= 8 && channel >= sweepChannels(n)) return 0;
    OPENBCIPARAMV1* p = getChnlParam(channel);
    if (!p) return 0;
    p->impedanceFlag1 = p->includeBias == 0 ? 1 : 0;
    p->impedanceFlag2 = p->impedanceWord == 0 ? 1 : 0;
    return 1;
}
