#include "ui/DialogTemplates.h"

#include <mutex>

#include "platform/controls.h"

namespace ui {
namespace {
using platform::ControlKind;
using platform::IDC_STATIC;

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
constexpr DWORD kRichEditStyle = ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_HSCROLL;
constexpr DWORD kListStyle = LVS_REPORT | WS_BORDER;
}  // namespace

const platform::DialogTemplate& connectionDialogTemplate() {
    static const platform::DialogTemplate tpl{
        IDD_SETUP_MULTIBOARD_BLECOM,
        L"Setup Connection BLE-COM (USB-Com-Ble)",
        328,
        238,
        L"MS Shell Dlg",
        8,
        0,
        kDialogStyle,
        {
            {IDC_BLE_FIND_DEVICE, ControlKind::PushButton, L"Find Device", 7, 9, 63, 14},
            {IDC_BLE_PORT_BOX, ControlKind::DropDownList, nullptr, 75, 11, 63, 132},
            {IDC_STATIC, ControlKind::GroupBox, L"Radio Settings", 144, 7, 177, 146},
            {IDC_BLE_SCAN_RADIO, ControlKind::PushButton, L"Scan Radio Channel", 156, 22, 77, 14},
            {IDC_BLE_ALIGN_CHAN, ControlKind::PushButton, L"Align Device-Host Chan", 237, 22, 84, 14},
            {IDC_BLE_AUTO_CONNECT, ControlKind::PushButton, L"Auto Connect...", 7, 26, 63, 14},
            {IDC_BLE_SELECT_CONNECT, ControlKind::PushButton, L"Select Connect...", 75, 26, 63, 14},
            {IDC_BLE_GET_RADIO_CHNL, ControlKind::PushButton, L"Get Radio Chnl", 156, 39, 59, 14},
            {IDC_STATIC, ControlKind::Label, L"Channel(1-25)", 232, 42, 48, 8},
            {IDC_BLE_BAUD_RATE, ControlKind::Edit, nullptr, 75, 42, 63, 14},
            {IDC_STATIC, ControlKind::Label, L"Baud(8.6->86.7us)", 7, 46, 65, 8},
            {IDC_BLE_SET_BOARD_CHAN, ControlKind::PushButton, L"Set Board Chan", 156, 58, 59, 14},
            {IDC_BLE_RADIO_CHNL, ControlKind::Edit, nullptr, 231, 58, 55, 14},
            {IDC_BLE_SET_BAUD, ControlKind::PushButton, L"Set Baud Rate", 7, 63, 63, 14},
            {IDC_BLE_BAUD_BOX, ControlKind::DropDownList, nullptr, 76, 64, 62, 30},
            {IDC_BLE_SET_DONGLE_CHAN, ControlKind::PushButton, L"Set Dongle Chan", 156, 77, 59, 14},
            {IDC_BLE_DONGLE_CHNL_BOX, ControlKind::DropDownList, nullptr, 230, 79, 57, 30},
            {IDC_BLE_RETRY, ControlKind::Edit, nullptr, 75, 83, 63, 14},
            {IDC_STATIC, ControlKind::Label, L"Re-Try Times", 7, 87, 56, 8},
            {IDC_BLE_GET_POLL, ControlKind::PushButton, L"Get Poll Time", 156, 96, 59, 14},
            {IDC_STATIC, ControlKind::Label, L"Poll Time(0-255)", 225, 99, 64, 8},
            {IDC_BLE_CLOSE, ControlKind::PushButton, L"Close", 75, 102, 63, 14},
            {IDC_BLE_SYNCH, ControlKind::AutoCheckBox, L"Synch....", 7, 105, 52, 10, WS_DISABLED},
            {IDC_BLE_SET_POLL, ControlKind::PushButton, L"Set Poll Time", 156, 115, 59, 14},
            {IDC_BLE_POLL_TIME, ControlKind::Edit, nullptr, 231, 115, 55, 14},
            {IDC_BLE_CLEAN_PORT, ControlKind::PushButton, L"Clean Serial Port", 75, 120, 63, 14},
            {IDC_BLE_MONITOR, ControlKind::PushButton, L"Monitor", 7, 121, 63, 14},
            {IDC_BLE_RADIO_STATUS, ControlKind::PushButton, L"Radio System Status", 231, 133, 78, 14},
            {IDC_BLE_EXIT, ControlKind::DefPushButton, L"Exit", 75, 139, 63, 14},
            {IDC_BLE_CLEAN_MSG, ControlKind::PushButton, L"Clean Radio Msg", 7, 141, 63, 14},
            {IDC_BLE_MSG_PANE, ControlKind::RichEdit, nullptr, 7, 161, 307, 70, kRichEditStyle},
        },
    };
    return tpl;
}

const platform::DialogTemplate& eegDialogTemplate() {
    static const platform::DialogTemplate tpl{
        IDD_SETUP_MULTIBOARD_EEG,
        L"Setup MultiBoard EEG",
        462,
        284,
        L"MS Shell Dlg",
        8,
        IDR_MENU_SETUP_EEG,
        kDialogStyle,
        {
            {IDC_EEG_RESET, ControlKind::PushButton, L"Reset", 9, 4, 65, 14},
            {IDC_EEG_TEST_SIGNAL, ControlKind::PushButton, L"Test Signal", 83, 4, 59, 14},
            {IDC_EEG_TEST_SIGNAL_BOX, ControlKind::DropDownList, nullptr, 151, 6, 78, 114},
            {IDC_EEG_CONNECTION_BOX, ControlKind::DropDownList, nullptr, 239, 6, 69, 99, WS_DISABLED},
            {IDC_STATIC, ControlKind::Label, L"Test Modalities", 317, 13, 69, 10},
            {IDC_EEG_GET_DEFAULT_INFO, ControlKind::PushButton, L"Get Default Info", 9, 27, 65, 14},
            {IDC_EEG_ATTACH_DAISY, ControlKind::PushButton, L"Attach Daisy", 83, 27, 65, 14},
            {IDC_EEG_REMOVE_DAISY, ControlKind::PushButton, L"Remove Daisy", 157, 27, 59, 14},
            {IDC_EEG_DONGLE, ControlKind::PushButton, L"USB-Ble-Dongle", 239, 27, 69, 12},
            {IDC_EEG_UNUSED_BOX, ControlKind::DropDownList, nullptr, 317, 27, 70, 132, WS_DISABLED},
            {IDC_STATIC, ControlKind::Label, L"Write to SD Card?", 319, 43, 65, 8},
            {IDC_EEG_BOARD_BOX, ControlKind::DropDownList, nullptr, 7, 51, 68, 132},
            {IDC_EEG_TURN_ALL_ON, ControlKind::PushButton, L"Turn All On", 83, 50, 65, 14},
            {IDC_EEG_TURN_ALL_OFF, ControlKind::PushButton, L"Turn All Off", 157, 50, 59, 14},
            {IDC_EEG_WIFI_SHIELD, ControlKind::PushButton, L"WIFI Shield", 239, 50, 69, 12},
            {IDC_EEG_SDCARD_BOX, ControlKind::DropDownList, nullptr, 317, 52, 59, 99},
            {IDC_EEG_CHANNEL_BOX, ControlKind::DropDownList, nullptr, 7, 72, 68, 132},
            {IDC_EEG_TURN_ON, ControlKind::PushButton, L"Turn On", 83, 71, 65, 14},
            {IDC_EEG_TURN_OFF, ControlKind::PushButton, L"Turn Off", 157, 71, 59, 14},
            {IDC_EEG_QUERY_SETTINGS, ControlKind::PushButton, L"Query Settings", 239, 73, 69, 12},
            {IDC_EEG_EXIT, ControlKind::DefPushButton, L"Exit", 317, 71, 70, 14},
            {IDC_EEG_ALL_DEFAULT, ControlKind::PushButton, L"All Chnl Default", 9, 94, 65, 14},
            {IDC_EEG_SET_ALL, ControlKind::PushButton, L"Set All Chnls", 83, 94, 59, 14},
            {IDC_EEG_SET_SELECT, ControlKind::PushButton, L"Set Select Chnls", 151, 94, 59, 14},
            {IDC_STATIC, ControlKind::Label, L"PGA Gain", 122, 112, 35, 8},
            {IDC_STATIC, ControlKind::Label, L"ADSI Input Type", 178, 112, 59, 8},
            {IDC_EEG_POWER_DOWN, ControlKind::AutoCheckBox, L"Power Down", 45, 123, 57, 10},
            {IDC_EEG_GAIN_BOX, ControlKind::DropDownList, nullptr, 112, 121, 60, 99},
            {IDC_EEG_INPUT_TYPE_BOX, ControlKind::DropDownList, nullptr, 181, 121, 56, 113},
            {IDC_EEG_INCLUDE_BIAS, ControlKind::AutoCheckBox, L"Include Bias", 244, 123, 57, 10},
            {IDC_EEG_LINK_SRB2, ControlKind::AutoCheckBox, L"Link SRB2(bottom)", 310, 123, 77, 10},
            {IDC_EEG_ALL_N_SRB1, ControlKind::AutoCheckBox, L"All N to SRB1", 396, 123, 59, 10},
            {IDC_EEG_ELECTRODE_LIST, ControlKind::ListView, nullptr, 7, 137, 448, 140, kListStyle},
        },
    };
    return tpl;
}

const platform::MenuTemplate& eegDialogMenu() {
    static const platform::MenuTemplate menu{
        IDR_MENU_SETUP_EEG,
        {
            {L"File", ID_FILE_NOACTION, {}},
            {L"Option", 0, {{L"Record Command Responses", ID_OPTION_RECORD_RESPONSES, {}}}},
        },
    };
    return menu;
}

void registerSetupResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::registerDialogTemplate(&connectionDialogTemplate());
        platform::registerDialogTemplate(&eegDialogTemplate());
        platform::registerMenuTemplate(&eegDialogMenu());
    });
}

}  // namespace ui
