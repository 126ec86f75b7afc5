// The connection setup dialog (template 16692): finds the USB radio dongles,
// connects one to its board, reads and sets the radio channel, poll time and
// baud rate of the selected dongle, and shows every outcome in its message
// pane and window title.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/controls.h"

class CDriveOpnBciMutiBoardzq;
class CConfigComRadiozq;
class CMegSerialPortzq;

class CDlgSetupMultiBoardBleCom : public CDialogEx {
    DECLARE_DYNAMIC(CDlgSetupMultiBoardBleCom)
public:
    CDlgSetupMultiBoardBleCom();
    ~CDlgSetupMultiBoardBleCom() override;

    // Creates the modeless window (no parent); FALSE when that fails.
    BOOL createWindow();

    // The element of the driver's dongle list at the dongle index, clamped;
    // null without a driver, with an empty list or a null element.
    CConfigComRadiozq* selectedDongle();
    // Fills the port box; 0 when it shows "No Serial Port".
    int fillPortBox();
    // Copies the selected dongle into the members and shows them.
    void showSelectedDongle();
    // Builds and sets the window title from the link state; 0 without a dongle.
    int buildLinkTitle();
    // A dongle's reply as the message pane shows it: without the "$$$" that
    // ends each answer, the poll time's raw byte as a number, other bytes
    // that are not text in hex.
    static CString inWords(const CStringA& reply);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnSize(UINT type, int cx, int cy) override;

    // ---- handlers
    void OnBnClickedFindDevice();
    void OnBnClickedSelectConnect();
    void OnBnClickedAutoConnect();
    void OnBnClickedClose();
    void OnBnClickedMonitor();
    void OnBnClickedScanRadioChannel();
    void OnBnClickedAlignDeviceHostChan();
    void OnBnClickedRadioSystemStatus();
    void OnBnClickedGetRadioChnl();
    void OnBnClickedSetBoardChan();
    void OnBnClickedSetDongleChan();
    void OnBnClickedGetPollTime();
    void OnBnClickedSetPollTime();
    void OnBnClickedSetBaudRate();
    void OnBnClickedCleanSerialPort();
    void OnBnClickedCleanRadioMsg();
    void OnCbnSelchangeDongleChannel();
    void OnCbnSelchangeBaud();
    void OnCbnSelchangePort();

    // ---- members, in order
    CDriveOpnBciMutiBoardzq* m_pDriver = nullptr;
    std::vector<CConfigComRadiozq*>* m_pDongles = nullptr;
    int m_dongleIndex = 0;
    CComboBox m_portBox;       // 17032
    int m_synch = 1;           // 17033
    int m_retryCount = 3;      // 17044
    int m_portIndex = 0;
    CButton m_findButton;      // 17037
    CComboBox m_dongleChnBox;  // 1002
    BYTE m_hostChnl = 20;
    BYTE m_radioChnl = 20;     // 17025
    BYTE m_pollTime = 80;      // 17028
    int m_baudRate = 115200;   // 17045
    int m_baudIndex = 0;
    CButton m_connectButton;   // 17034
    CString m_msgText;         // what the message pane (1006) shows
    CRichEditCtrl m_msgPane;   // 1006
    CComboBox m_baudBox;       // 1004
    CString m_title = L"Setup connection: ";

private:
    void bindMessages();
    // The dongle's port object when there is a selected dongle with one.
    CMegSerialPortzq* selectedPort();
    // The name shown for the dongle's port: its own field, else the port's.
    CString donglePortName(CConfigComRadiozq* dongle) const;
    // A dongle that knows no port name takes its port object's (dongles made
    // by a search keep it there) or else the one the port box shows, so that
    // connecting works on what the user sees.
    void adoptShownPort(CConfigComRadiozq* dongle);
};
