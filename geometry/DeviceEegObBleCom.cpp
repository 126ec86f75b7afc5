#include "geometry/DeviceEegObBleCom.h"

#include <new>

#include "common/OpenBciParam.h"
#include "geometry/ElectrodeTables.h"
#include "common/OptionTables.h"
#include "link/ConfigComRadiozq.h"
#include "platform/msgbox.h"

namespace {

constexpr int kCytonPins = 8;
constexpr int kDaisyPins = 16;
constexpr int kAuxPerBoard = 6;
constexpr double kAccelRangeMin = -2000.0;
constexpr double kAccelRangeMax = 1996.1;

void deleteOpenBciParam(void* block) { delete static_cast<OPENBCIPARAMV1*>(block); }

int expectedCount(int boards, int pins) { return (pins + kAuxPerBoard) * boards + TRAILER_CHANNELS; }

}  // namespace

CDeviceEegObBleCom::CDeviceEegObBleCom() { m_linkType = 4; }

CDeviceEegObBleCom::CDeviceEegObBleCom(const CDeviceEegObBleCom& other) : CHardWareInfozq(other) {
    copyOwnFields(other);
}

CDeviceEegObBleCom& CDeviceEegObBleCom::operator=(const CDeviceEegObBleCom& other) {
    if (this == &other) return *this;
    CHardWareInfozq::operator=(other);
    copyOwnFields(other);
    return *this;
}

void CDeviceEegObBleCom::copyOwnFields(const CDeviceEegObBleCom& other) {
    m_reserved64 = other.m_reserved64;
    m_reserved1 = other.m_reserved1;
    m_reserved2 = other.m_reserved2;
    m_cytonList = other.m_cytonList;
    m_daisyList = other.m_daisyList;
    m_recordFolder = other.m_recordFolder;
    m_recordName = other.m_recordName;
    m_reservedPtr = other.m_reservedPtr;
    m_pBoards = other.m_pBoards;
    m_boardCount = other.m_boardCount;
    m_reserved3 = other.m_reserved3;
    // The copied base still points at the other object's list: point at ours.
    if (other.m_pCurChnList == &other.m_cytonList) m_pCurChnList = &m_cytonList;
    else if (other.m_pCurChnList == &other.m_daisyList) m_pCurChnList = &m_daisyList;
}

CDeviceEegObBleCom::~CDeviceEegObBleCom() { cleanOpenBciGeom(); }

CDeviceEegObBleComzq::~CDeviceEegObBleComzq() = default;

int CDeviceEegObBleCom::cleanOpenBciGeom() {
    m_cytonList.Free();
    m_daisyList.Free();
    return 1;
}

int CDeviceEegObBleCom::getEparamsRows(int channelCount) {
    return electrodeTable(electrodeTableFor(channelCount)).count;
}

const ELCTD_POS_NAME_PXYZ* CDeviceEegObBleCom::getEparams(int channelCount) {
    return electrodeTable(electrodeTableFor(channelCount)).rows;
}

int CDeviceEegObBleCom::getSampleRate(int linkType) {
    int rate = linkType == LINK_TYPE_DAISY16 ? 125 : 250;
    m_sampleRate = rate;
    return rate;
}

int CDeviceEegObBleCom::resetChnGeomCyton8(std::vector<CConfigComRadiozq*>* boards) {
    return rebuildList(boards, m_cytonList, kCytonPins, L"CytonBoard%d");
}

int CDeviceEegObBleCom::resetChnGeomDaisy16(std::vector<CConfigComRadiozq*>* boards) {
    return rebuildList(boards, m_daisyList, kDaisyPins, L"DaisyBoard%d");
}

// One electrode row per EEG channel, running across the boards. The template
// is the one for pins x boards channels, so the Daisy layout gets as many
// distinct rows as the templates offer; past the last row the last one repeats.
int CDeviceEegObBleCom::rebuildList(std::vector<CConfigComRadiozq*>* boards, ChnGeomList& list, int pins,
                                    const wchar_t* boardLabelFormat) {
    m_pBoards = boards;
    list.Free();
    const int n = boards ? static_cast<int>(boards->size()) : 0;
    const ELCTD_TABLE table = electrodeTable(electrodeTableFor(pins * n));
    if (n < 1) {
        addTsrx2chnGem(list);
        m_boardCount = n;
        return 1;
    }

    int row = 0;
    int chn = 0;
    for (int b = 0; b < n; ++b) {
        const CConfigComRadiozq* dongle = (*boards)[static_cast<size_t>(b)];
        CString boardLabel;
        boardLabel.Format(boardLabelFormat, b + 1);
        for (int p = 0; p < pins; ++p, ++row, ++chn) {
            const ELCTD_POS_NAME_PXYZ& pos = table.rows[row < table.count ? row : table.count - 1];
            CAcqChnlGeomzq* geom = makeChnGeom(CString(pos.name), GEOM_KIND_EEG, 1);
            if (!geom) return 0;
            if (CEEGelectrode* e = geom->getElectrode()) {
                e->m_kind = pos.kind;
                e->m_kindCode = pos.kindCode;
                e->setAcqElcParam(&pos);
                e->m_portText = dongle ? dongle->m_portName : CString();
                e->m_boardLabel = boardLabel;
                e->m_boardIndex = b;
                e->m_pin = p;
                e->m_chnNumber = chn;
            }
            OPENBCIPARAMV1* prm = new (std::nothrow) OPENBCIPARAMV1;
            if (!prm) return 0;
            prm->inputTypeText = g_inputTypeNames[0];
            geom->setHdwrParam(prm, OPENBCIPARAM_BLOCK_KIND, static_cast<int>(sizeof(OPENBCIPARAMV1)),
                               deleteOpenBciParam);
            if (!list.Add(geom)) return 0;
        }
    }

    static const struct {
        const wchar_t* name;
        int axis;
        int code;
    } accel[3] = {{L"AccLft", 1, 901}, {L"AccUp", 2, 902}, {L"AccFwd", 3, 903}};
    for (int b = 0; b < n; ++b) {
        for (const auto& a : accel) {
            CAcqChnlGeomzq* geom = makeChnGeom(a.name, GEOM_KIND_ACCEL, 1);
            if (!geom) return 0;
            geom->m_axis = a.axis;
            geom->m_sensorCode = a.code;
            geom->m_boardIndex = b;
            if (!list.Add(geom)) return 0;
        }
        for (int i = 1; i <= 3; ++i) {
            CString name;
            name.Format(L"Analog%d", i);
            CAcqChnlGeomzq* geom = makeChnGeom(name, GEOM_KIND_ANALOG, 1);
            if (!geom) return 0;
            geom->m_sensorCode = 420;
            geom->m_geomFlag = 0;
            geom->m_boardIndex = b;
            if (!list.Add(geom)) return 0;
        }
    }

    addTsrx2chnGem(list);
    m_boardCount = n;
    return 1;
}

int CDeviceEegObBleCom::selectChnGeom2Link(DEVICE_LINK_TYPE type) {
    if (type != -1) m_linkType = type;
    ChnGeomList* list;
    int pins;
    const wchar_t* labelFormat;
    if (m_linkType == LINK_TYPE_CYTON8) {
        list = &m_cytonList;
        pins = kCytonPins;
        labelFormat = L"MutliBoard:%dx8";
    } else if (m_linkType == LINK_TYPE_DAISY16) {
        list = &m_daisyList;
        pins = kDaisyPins;
        labelFormat = L"MutliBoard:%dx16";
    } else {
        return 0;
    }
    if (static_cast<int>(list->Size()) != expectedCount(m_boardCount, pins)) {
        int ok = pins == kCytonPins ? resetChnGeomCyton8(m_pBoards) : resetChnGeomDaisy16(m_pBoards);
        if (!ok) return 0;
    }
    m_pCurChnList = list;
    m_deviceLabel.Format(labelFormat, m_boardCount);
    const int count = static_cast<int>(list->Size());
    m_curChnIndex = count - 1;
    return count;
}

int CDeviceEegObBleCom::acgFinishTrial(CMeAcqTrialzq* trial) {
    if (!trial) return 0;
    for (int i = 0; i < trial->getTotalChannel(); ++i) {
        CMeAcgChannelzq* ch = trial->getChannel(i);
        if (!ch || ch->isEEGChannel() || !ch->isAcceleratChnl()) continue;
        ch->setValueRange(kAccelRangeMin, kAccelRangeMax);
        ch->m_unit = L"mm/s^2";
    }
    return 1;
}

int CDeviceEegObBleCom::acgSns2chnl(CMeAcqDatazq* data, int trials, std::int64_t samples, int record) {
    if (!m_pCurChnList || m_pCurChnList->Size() == 0) {
        AfxMessageBox(L"Initialize hardware sensors first!?");
        return 0;
    }
    if (!data) return 0;
    data->getTotalMEGChannel(false, false);
    CMEGRecordInfozq* info = data->getMEGRecordInfozq();
    info->m_sampleRate = m_sampleRate;
    info->m_sampleRate2 = m_sampleRate;
    if (trials < 1) trials = info->m_trialCount;
    if (samples < 1) samples = info->m_samplesPerTrial;
    int ok = record ? data->acqInitDataTrlChnlGeom4Record(data->m_recordFolder, data->m_recordName, trials, samples,
                                                          m_pCurChnList, acgFinishTrial)
                    : data->acqInitDataTrlChnlGeom4Monit(1, samples, m_pCurChnList, acgFinishTrial);
    return ok ? 1 : 0;
}
