// The multi-board EEG setup dialog (template 16693, menu 17001): picks a board
// and a channel, sends the boards' channel commands, and shows every EEG
// channel with its settings in the electrode list.
#pragma once

#include "platform/controls.h"
#include "ui/ListMultiBoardElectrode.h"

class CDriveOpnBciMutiBoardzq;
class CDeviceEegObBleComzq;

class CDlgSetupMultiBoardEeg : public CDialogEx {
    DECLARE_DYNAMIC(CDlgSetupMultiBoardEeg)
public:
    CDlgSetupMultiBoardEeg();
    ~CDlgSetupMultiBoardEeg() override;

    // Creates the modeless window (no parent); FALSE when that fails.
    BOOL createWindow();

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnSize(UINT type, int cx, int cy) override;
    void OnTimer(UINT_PTR id) override;
    void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) override;

    void fillBoardBox();
    void fillChannelBox();
    void buildTitle();
    // Rebuilds the driver's channel lists from its dongles (with a device and
    // at least one dongle) and returns the device.
    CDeviceEegObBleComzq* refreshGeometry();

    // ---- handlers
    void OnBnClickedTurnOn();
    void OnBnClickedTurnOff();
    void OnBnClickedTurnAllOn();
    void OnBnClickedTurnAllOff();
    void OnBnClickedTestSignal();
    void OnBnClickedAllChnlDefault();
    void OnBnClickedGetDefaultInfo();
    void OnBnClickedQuerySettings();
    void OnBnClickedReset();
    void OnBnClickedAttachDaisy();
    void OnBnClickedRemoveDaisy();
    void OnBnClickedSetSelectChnls();
    void OnBnClickedSetAllChnls();
    void OnBnClickedUsbBleDongle();
    void OnBnClickedWifiShield();
    void OnCbnSelchangeSdCard();
    void OnBnClickedCheckBox();
    void OnCbnSelchangeTestSignal();
    void OnCbnSelchangeGain();
    void OnCbnSelchangeInputType();
    void OnCbnSelchangeChannel();
    void OnCbnSelchangeBoard();
    void OnLvnItemchangedElectrodeList(NMHDR* header, LRESULT* result);
    void OnRecordCommandResponses();
    void OnFileNoAction();

    // ---- members, in order
    CDriveOpnBciMutiBoardzq* m_pDriver = nullptr;
    CListMultiBoardElectrodezq m_listElectrode;  // 17042
    CComboBox m_testSignalBox;                   // 17004
    int m_testSignalIndex = 0;
    CComboBox m_boardBox;                        // 17038
    int m_boardIndex = 0;
    CComboBox m_channelBox;                      // 17000
    int m_channelIndex = 0;                      // position in the channel box
    CComboBox m_gainBox;                         // 17006
    CComboBox m_inputTypeBox;                    // 17007
    int m_powerDown = 0;                         // 17005
    int m_includeBias = 1;                       // 17008
    int m_linkSrb2 = 1;                          // 17009
    int m_allNtoSrb1 = 0;                        // 17010
    int m_gainIndex = 6;                         // row of 1, 2, 4, 6, 8, 12, 24
    int m_inputTypeIndex = 0;
    int m_responses = 1;                         // "Record Command Responses"
    CComboBox m_sdCardBox;                       // 17017
    int m_sdCardIndex = 0;
    CComboBox m_connectionBox;                   // 17014
    CButton m_dongleButton;                      // 17015
    CButton m_shieldButton;                      // 17016
    int m_showCount = 0;
    CString m_title;

private:
    void bindMessages();
    // Sets the driver's command value around one board command.
    template <class F>
    void withCommandValue(F&& command);
    void turnAll(int on);
    // The driver channel of a channel-box position: the picked board's channel
    // at that position in the current list (its first channel plus the position).
    int driverChannel(int position) const;
    // Keeps a channel's power state as sent and shows it in its row.
    void storePowerState(int channel, int on);
    // After a reset or "All Chnl Default" every board's channels run at their
    // defaults again: keep and show those.
    void storeBoardDefaults();
    // Writes the dialog's settings into the record at that position of the
    // channel list after sending them.
    void storeChannelSettings(int position, OPENBCIPARAMV1* p);
};
