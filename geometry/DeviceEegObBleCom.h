// The multi-board hardware-information object: describes every channel of the
// connected boards to the host, with a Cyton (8 per board) and a Daisy (16 per
// board) channel list side by side, one of them current by link type.
#pragma once

#include <cstdint>
#include <vector>

#include "host/AcqFramework.h"

class CConfigComRadiozq;
class CComboBox;

class CDeviceEegObBleCom : public CHardWareInfozq {
public:
    CDeviceEegObBleCom();
    CDeviceEegObBleCom(const CDeviceEegObBleCom& other);
    CDeviceEegObBleCom& operator=(const CDeviceEegObBleCom& other);

    virtual int selectChnGeom2Link(DEVICE_LINK_TYPE type);
    ~CDeviceEegObBleCom() override;

    int resetChnGeomCyton8(std::vector<CConfigComRadiozq*>* boards);
    int resetChnGeomDaisy16(std::vector<CConfigComRadiozq*>* boards);
    int cleanOpenBciGeom();
    int getSampleRate(int linkType);
    const ELCTD_POS_NAME_PXYZ* getEparams(int channelCount);
    // Row count of the template getEparams(channelCount) returns.
    static int getEparamsRows(int channelCount);
    // Prepares the data set's trials from the current list.
    int acgSns2chnl(CMeAcqDatazq* data, int trials, std::int64_t samples, int record);
    // The per-trial callback: accelerometer channels get their range and unit.
    static int acgFinishTrial(CMeAcqTrialzq* trial);

    // ---- own fields, in order
    std::uint64_t m_reserved64 = 0;  // getSampleRate(combo) of the driver keeps the combo here
    std::int32_t m_reserved1 = 0;
    std::int32_t m_reserved2 = 0;
    ChnGeomList m_cytonList;
    ChnGeomList m_daisyList;
    CString m_recordFolder;
    CString m_recordName;
    void* m_reservedPtr = nullptr;
    std::vector<CConfigComRadiozq*>* m_pBoards = nullptr;
    std::int32_t m_boardCount = 0;
    std::int32_t m_reserved3 = 0;

private:
    void copyOwnFields(const CDeviceEegObBleCom& other);
    int rebuildList(std::vector<CConfigComRadiozq*>* boards, ChnGeomList& list, int pins,
                    const wchar_t* boardLabelFormat);
};

class CDeviceEegObBleComzq : public CDeviceEegObBleCom {
public:
    CDeviceEegObBleComzq() = default;
    CDeviceEegObBleComzq(const CDeviceEegObBleComzq&) = default;
    CDeviceEegObBleComzq& operator=(const CDeviceEegObBleComzq&) = default;
    ~CDeviceEegObBleComzq() override;
};
