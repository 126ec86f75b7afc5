#include "driver/DriveOpnBciMutiBoard.h"

#include <new>

namespace {
// Board command letter of each pin: "1".."8" for the Cyton pins, then the
// letters of the Daisy pins.
constexpr char kPinLetters[16] = {'1', '2', '3', '4', '5', '6', '7', '8',
                                  'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I'};

// Channels per board of a link type; 0 for a layout the driver does not serve.
int chnPerBoardOf(const CHdwrConfigzq* cfg) {
    if (!cfg) return 0;
    if (cfg->m_linkType == LINK_TYPE_CYTON8) return 8;
    if (cfg->m_linkType == LINK_TYPE_DAISY16) return 16;
    return 0;
}
}  // namespace

CDriveOpnBciMutiBoard::CDriveOpnBciMutiBoard() { m_boardSummary = L"MultiBoard Com?->OpenBci?"; }

// The device, dongles, enumerator and dialogs are released by the clean-up
// operations only: the host decides when the hardware goes away.
CDriveOpnBciMutiBoard::~CDriveOpnBciMutiBoard() = default;

char CDriveOpnBciMutiBoard::getChar4Chnl(int ch, int& pin) {
    int per = chnPerBoardOf(m_pConfigUser);
    if (per == 0) return '0';
    m_chnPerBoard = per;
    pin = ch % per;
    if (pin < 0 || pin >= 16) return '0';
    return kPinLetters[pin];
}

int CDriveOpnBciMutiBoard::driverChnl2BoardPinChanID(int ch, int& board, int& pin) {
    int per = chnPerBoardOf(m_pConfigUser);
    if (per == 0) return 0;
    m_chnPerBoard = per;
    pin = ch % per;
    board = ch / per;
    return 1;
}

CMegSerialPortzq* CDriveOpnBciMutiBoard::getChnlCom(int ch) {
    if (m_dongles.empty()) return nullptr;
    int per = chnPerBoardOf(m_pConfigDetect);
    if (per == 0) return nullptr;
    m_chnPerBoard = per;
    int board = ch / per;
    int last = static_cast<int>(m_dongles.size()) - 1;
    if (board > last) board = last;
    if (board < 0) board = 0;
    CConfigComRadiozq* dongle = m_dongles[static_cast<size_t>(board)];
    return dongle ? dongle->m_pSerialPort : nullptr;
}

void CDriveOpnBciMutiBoard::rebuildChnGeom() {
    if (!m_pDevice) return;
    m_pDevice->m_pBoards = &m_dongles;
    m_pDevice->resetChnGeomCyton8(&m_dongles);
    m_pDevice->resetChnGeomDaisy16(&m_dongles);
    // Without a detected configuration the device keeps its own link type.
    m_pDevice->selectChnGeom2Link(m_pConfigDetect ? m_pConfigDetect->m_linkType : -1);
}

OPENBCIPARAMV1* CDriveOpnBciMutiBoard::getChnlParam(int ch) {
    if (m_pDevice && !m_dongles.empty()) rebuildChnGeom();
    if (!m_pDevice) return nullptr;
    ChnGeomList* list = m_pDevice->m_pCurChnList;
    if (!list || list->Size() < 1 || ch < 0 || static_cast<std::uint32_t>(ch) >= list->Size()) return nullptr;
    CAcqChnlGeomzq* geom = (*list)[static_cast<std::uint32_t>(ch)];
    if (!geom || geom->m_hdwrParamKind != OPENBCIPARAM_BLOCK_KIND) return nullptr;
    return static_cast<OPENBCIPARAMV1*>(geom->getHdwrParam());
}

int CDriveOpnBciMutiBoard::checkMultiBoardChnl(int n) {
    unsigned int u = static_cast<unsigned int>(n);
    if (u > 399) return 0;
    if (u >= 200 && m_pDevice && m_pDevice->m_linkType == LINK_TYPE_CYTON8) {
        AfxMessageBox(L"Only multi-CytonDaisy device has more than 200 channels!?");
        return 0;
    }
    return 1;
}

CDeviceEegObBleComzq* CDriveOpnBciMutiBoard::getDevice(int create) {
    if (create && !m_pDevice) m_pDevice = new (std::nothrow) CDeviceEegObBleComzq;
    if (m_pDevice && !m_dongles.empty()) rebuildChnGeom();
    return m_pDevice;
}

CConfigComRadiozq* CDriveOpnBciMutiBoard::getConfigComRadio(int create) {
    if (create && m_dongles.empty()) {
        auto* dongle = new (std::nothrow) CConfigComRadiozq;
        if (dongle) m_dongles.push_back(dongle);
    }
    return nullptr;  // callers go through the dongle list
}

CFaceMegSerialPortzq* CDriveOpnBciMutiBoard::getFaceSerialPort(int create) {
    if (create && !m_pFaceSerial) m_pFaceSerial = new (std::nothrow) CFaceMegSerialPortzq;
    return m_pFaceSerial;
}

int CDriveOpnBciMutiBoard::cleanDevice() {
    cleanDlg();
    delete m_pDevice;
    m_pDevice = nullptr;
    return 1;
}

int CDriveOpnBciMutiBoard::cleanCloseFaceCom() {
    if (m_pFaceSerial) {
        m_pFaceSerial->closeAllPorts();
        delete m_pFaceSerial;
        m_pFaceSerial = nullptr;
    }
    return 0;
}

int CDriveOpnBciMutiBoard::cleanConfigComBle2Board() {
    for (CConfigComRadiozq* dongle : m_dongles) delete dongle;
    m_dongles.clear();
    return 1;
}

