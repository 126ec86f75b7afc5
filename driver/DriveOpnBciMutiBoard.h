// The driver object's first stage: its members, channel addressing and the
// clean-up operations. Only CDriveOpnBciMutiBoardzq is ever created.
#pragma once

#include <atomic>
#include <vector>

#include "driver/OpenBciParam.h"
#include "geometry/DeviceEegObBleCom.h"
#include "host/AcqFramework.h"
#include "host/MegSerialPort.h"
#include "link/ConfigComRadiozq.h"
#include "platform/afxwin.h"

class CDlgSetupMultiBoardEeg;
class CDlgSetupMultiBoardBleCom;

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
    std::atomic<int> m_connState{0};
    std::atomic<int> m_statusCode{-1};
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
