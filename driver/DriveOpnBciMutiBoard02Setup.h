// Board command transactions: channel settings, on and off, test signals,
// defaults, queries, SD card, Daisy, time stamps, board mode, firmware.
#pragma once

#include <cstdint>

#include "driver/DriveOpnBciMutiBoard.h"

class CDriveOpnBciMutiBoard02Setup : public CDriveOpnBciMutiBoard {
public:
    CDriveOpnBciMutiBoard02Setup() = default;
    ~CDriveOpnBciMutiBoard02Setup() override;

    CStringA resetBoard(int unused);
    CStringA startStream(int unused);
    CStringA stopStream(int unused);
    CStringA configureChannels(ChnGeomList& geoms, int reply);
    CStringA sendChannelCommands(unsigned int channel, int powerDown, unsigned int gainCode, unsigned int inputType,
                                 bool bias, bool srb2, bool srb1, int reply);
    CStringA turnOnOffChnl(unsigned int channel, int on, int report);
    CStringA getAllChnlSetReport(int reply);
    CStringA testSignalCtrlCmd(int index, int reply);
    CStringA resetAllChnl2default(int reply);
    CStringA getDefault4AllChnl(int reply);
    CStringA startSDcardRecord(std::uint8_t command, int reply);
    CStringA stopSDcardRecord(int reply);
    CStringA queryDeviceSettings(int reply);
    CStringA daisyModuleRemove(int reply);
    CStringA daisyModuleAttach(int reply);
    CStringA turnTimeStamp(int on, int reply);
    CStringA setBoardMode4AuxByte(std::uint8_t mode, int reply);
    CStringA getBoardMode4AuxByte(int reply);
    CStringA getOpenBciFirmwareVersion(int reply);
    int getSystemStatus();

    // Gain code of a gain value (0 or unknown: 6).
    static unsigned int gainCodeOf(int gain);
};
