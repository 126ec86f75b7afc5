// Resources of the two setup dialogs: template, control, menu and icon ids,
// and the templates themselves.
#pragma once

#include "platform/dialog.h"

// ---- connection setup dialog
constexpr UINT IDD_SETUP_MULTIBOARD_BLECOM = 16692;
constexpr int IDC_BLE_FIND_DEVICE = 17037;
constexpr int IDC_BLE_PORT_BOX = 17032;
constexpr int IDC_BLE_SCAN_RADIO = 1000;
constexpr int IDC_BLE_ALIGN_CHAN = 1003;
constexpr int IDC_BLE_AUTO_CONNECT = 17038;
constexpr int IDC_BLE_SELECT_CONNECT = 17034;
constexpr int IDC_BLE_GET_RADIO_CHNL = 17023;
constexpr int IDC_BLE_BAUD_RATE = 17045;
constexpr int IDC_BLE_SET_BOARD_CHAN = 17024;
constexpr int IDC_BLE_RADIO_CHNL = 17025;
constexpr int IDC_BLE_SET_BAUD = 17030;
constexpr int IDC_BLE_BAUD_BOX = 1004;
constexpr int IDC_BLE_SET_DONGLE_CHAN = 17029;
constexpr int IDC_BLE_DONGLE_CHNL_BOX = 1002;
constexpr int IDC_BLE_RETRY = 17044;
constexpr int IDC_BLE_GET_POLL = 17026;
constexpr int IDC_BLE_CLOSE = 17035;
constexpr int IDC_BLE_SYNCH = 17033;
constexpr int IDC_BLE_SET_POLL = 17027;
constexpr int IDC_BLE_POLL_TIME = 17028;
constexpr int IDC_BLE_CLEAN_PORT = 1011;
constexpr int IDC_BLE_MONITOR = 17036;
constexpr int IDC_BLE_RADIO_STATUS = 1001;
constexpr int IDC_BLE_EXIT = 1;
constexpr int IDC_BLE_CLEAN_MSG = 1007;
constexpr int IDC_BLE_MSG_PANE = 1006;

// ---- multi-board EEG setup dialog
constexpr UINT IDD_SETUP_MULTIBOARD_EEG = 16693;
constexpr UINT IDR_MENU_SETUP_EEG = 17001;
constexpr UINT ID_FILE_NOACTION = 32773;
constexpr UINT ID_OPTION_RECORD_RESPONSES = 32774;
constexpr int IDC_EEG_RESET = 17020;
constexpr int IDC_EEG_TEST_SIGNAL = 17003;
constexpr int IDC_EEG_TEST_SIGNAL_BOX = 17004;
constexpr int IDC_EEG_CONNECTION_BOX = 17014;
constexpr int IDC_EEG_GET_DEFAULT_INFO = 17013;
constexpr int IDC_EEG_ATTACH_DAISY = 17021;
constexpr int IDC_EEG_REMOVE_DAISY = 17022;
constexpr int IDC_EEG_DONGLE = 17015;
constexpr int IDC_EEG_UNUSED_BOX = 17030;
constexpr int IDC_EEG_BOARD_BOX = 17038;
constexpr int IDC_EEG_TURN_ALL_ON = 17039;
constexpr int IDC_EEG_TURN_ALL_OFF = 17040;
constexpr int IDC_EEG_WIFI_SHIELD = 17016;
constexpr int IDC_EEG_SDCARD_BOX = 17017;
constexpr int IDC_EEG_CHANNEL_BOX = 17000;
constexpr int IDC_EEG_TURN_ON = 17001;
constexpr int IDC_EEG_TURN_OFF = 17002;
constexpr int IDC_EEG_QUERY_SETTINGS = 17019;
constexpr int IDC_EEG_EXIT = 1;
constexpr int IDC_EEG_ALL_DEFAULT = 17012;
constexpr int IDC_EEG_SET_ALL = 17041;
constexpr int IDC_EEG_SET_SELECT = 17011;
constexpr int IDC_EEG_POWER_DOWN = 17005;
constexpr int IDC_EEG_GAIN_BOX = 17006;
constexpr int IDC_EEG_INPUT_TYPE_BOX = 17007;
constexpr int IDC_EEG_INCLUDE_BIAS = 17008;
constexpr int IDC_EEG_LINK_SRB2 = 17009;
constexpr int IDC_EEG_ALL_N_SRB1 = 17010;
constexpr int IDC_EEG_ELECTRODE_LIST = 17042;

// The icon of both dialogs and of the electrode list's images.
constexpr UINT IDI_SETUP_MULTIBOARD = 17002;

// The timer on which the EEG dialog refreshes its list.
constexpr UINT_PTR IDT_EEG_REFRESH = 200;

namespace ui {
const platform::DialogTemplate& connectionDialogTemplate();
const platform::DialogTemplate& eegDialogTemplate();
const platform::MenuTemplate& eegDialogMenu();
// Makes the templates and the menu known to the window layer (once).
void registerSetupResources();
}  // namespace ui
