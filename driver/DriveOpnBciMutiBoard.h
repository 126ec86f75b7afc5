// The driver object's first stage: its members, channel addressing and the
// clean-up operations. Only CDriveOpnBciMutiBoardzq is ever created.
#pragma once

#include <atomic>
#include <vector>

#include "common/OpenBciParam.h"
#include "geometry/DeviceEegObBleCom.h"
#include "host/AcqFramework.h"
#include "host/MegSerialPort.h"
#include "link/ConfigComRadiozq.h"
#include "platform/afxwin.h"

class CDlgSetupMultiBoardEeg;
class CDlgSetupMultiBoardBleCom;

// The driver's status code (m_statusCode), for the host to read.
namespace StatusCode {
enum : int {
    Failed = -1,         // nothing done yet, or no port could be opened for discovery
    NoDongle = 2,        // discovery found no dongle with a board
    NoChannels = 3,      // the EEG dialog found an empty channel list
    Searching = 4,       // discovery runs
    Connected = 5,
    Monitoring = 19,     // the reading thread runs, monitoring
    MonitoringEnded = 20,
    Recording = 21,      // the reading thread runs, recording
    RecordingEnded = 22,
};
}

// Who owns the boards' ports just now (m_connState).
namespace ConnState {
enum : int {
    None = 0,           // no search yet
    Searching = 1,      // a search runs, or the last one failed
    Connected = 2,
    SensorStatus = 3,   // a sensor-status reading owns the ports' input
    Streaming = 4,      // the stream reader owns the ports' input
};
}

class CDriveOpnBciMutiBoard : public CAcqDriverzq {
public:
    CDriveOpnBciMutiBoard();
    virtual ~CDriveOpnBciMutiBoard();
    virtual int showDlgSetupMultiBoardBleCom(CHdwrConfigzq* cfg, CMeAcqDatazq* data) = 0;
    virtual int showDlgSetupMultiBoardEeg(CHdwrConfigzq* cfg, CMeAcqDatazq* data) = 0;

    char getChar4Chnl(int ch, int& pin);
    int driverChnl2BoardPinChanID(int ch, int& board, int& pin);
    CMegSerialPortzq* getChnlCom(int ch);
    OPENBCIPARAMV1* getChnlParam(int ch);
    int checkMultiBoardChnl(int n);
    CDeviceEegObBleComzq* getDevice(int create);
    CConfigComRadiozq* getConfigComRadio(int create);
    CFaceMegSerialPortzq* getFaceSerialPort(int create);

    int cleanDevice();
    int cleanDlg();
    int cleanCloseFaceCom();
    int cleanConfigComBle2Board();
    int hideDlg();
    int setDlgComBleMsg(CStringA text);

    // Rebuilds both channel lists from the dongle list and selects the one of
    // the detected configuration's link type (what getChnlParam does first).
    void rebuildChnGeom();

    // ---- own members, in order
    int m_chnPerBoard = 8;
    CDeviceEegObBleComzq* m_pDevice = nullptr;           // owned
    CFaceMegSerialPortzq* m_pFaceSerial = nullptr;       // owned
    CStringArray m_donglePortNames;
    std::vector<CConfigComRadiozq*> m_dongles;           // owned elements, board order
    CMeAcqDatazq* m_pData = nullptr;                     // borrowed
    CMeAcqTrialzq* m_pTrial = nullptr;                   // borrowed
    std::atomic<int> m_connState{ConnState::None};
    std::atomic<int> m_statusCode{StatusCode::Failed};
    int m_cmdValue = 0;
    std::atomic<int> m_stopStatusReq{0};
    std::atomic<int> m_stopFlag{0};
    void* m_pSnsStatusThread = nullptr;
    std::atomic<CWinThread*> m_pMonitThread{nullptr};  // the worker clears it when it ends
    std::atomic<CWinThread*> m_pRecordThread{nullptr};
    CString m_portListText;
    CString m_secondText;
    CDlgSetupMultiBoardEeg* m_pDlgEeg = nullptr;          // owned
    CDlgSetupMultiBoardBleCom* m_pDlgBleCom = nullptr;    // owned
};
