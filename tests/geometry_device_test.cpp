// The channel lists that describe the boards to the host, their selection by
// link type, and the preparation of the host's data set from them.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "driver/OpenBciParam.h"
#include "geometry/DeviceEegObBleCom.h"
#include "geometry/ElectrodeTables.h"
#include "link/ConfigComRadiozq.h"
#include "platform/msgbox.h"

// A chosen nothrow allocation of a parameter block fails; every other one
// goes to the ordinary operator new, so deletes stay paired.
namespace {
int g_failParamAt = 0;  // 0: never; n: the n-th parameter block from now
}  // namespace

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    if (g_failParamAt > 0 && n == sizeof(OPENBCIPARAMV1) && --g_failParamAt == 0) return nullptr;
    try {
        return ::operator new(n);
    } catch (...) {
        return nullptr;
    }
}

namespace {

class Boards {
public:
    explicit Boards(int n) {
        for (int i = 0; i < n; ++i) {
            own_.push_back(std::make_unique<CConfigComRadiozq>());
            own_.back()->m_portName.Format(L"COM%d", i + 3);
            list.push_back(own_.back().get());
        }
    }
    std::vector<CConfigComRadiozq*> list;

private:
    std::vector<std::unique_ptr<CConfigComRadiozq>> own_;
};

std::wstring name(const ChnGeomList& l, int i) { return l[static_cast<std::uint32_t>(i)]->m_name.str(); }

const wchar_t* kTrailer[TRAILER_CHANNELS] = {L"Trigger", L"TimeStamp", L"Event", L"Response", L"Marker", L"Reserved"};

// EEG records of one list, board by board: names and positions from `table`,
// labels, ports, pins, channel numbers, a default parameter block.
void checkEeg(const ChnGeomList& l, int boards, int pins, const ELCTD_TABLE& table, const wchar_t* labelFormat) {
    for (int k = 0; k < boards * pins; ++k) {
        SCOPED_TRACE("channel " + std::to_string(k));
        const CAcqChnlGeomzq* g = l[static_cast<std::uint32_t>(k)];
        const ELCTD_POS_NAME_PXYZ& row = table.rows[k < table.count ? k : table.count - 1];
        EXPECT_EQ(g->m_kind, GEOM_KIND_EEG);
        EXPECT_EQ(g->m_name, row.name);
        const CEEGelectrode* e = g->getElectrode();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_name, row.name);
        EXPECT_EQ(e->m_x, row.x);
        EXPECT_EQ(e->m_y, row.y);
        EXPECT_EQ(e->m_z, row.z);
        EXPECT_EQ(e->m_kind, row.kind);
        EXPECT_EQ(e->m_kindCode, row.kindCode);
        CString label;
        label.Format(labelFormat, k / pins + 1);
        EXPECT_EQ(e->m_boardLabel, label);
        CString port;
        port.Format(L"COM%d", k / pins + 3);
        EXPECT_EQ(e->m_portText, port);
        EXPECT_EQ(e->m_boardIndex, k / pins);
        EXPECT_EQ(e->m_pin, k % pins);
        EXPECT_EQ(e->m_chnNumber, k);
        EXPECT_EQ(g->m_hdwrParamKind, OPENBCIPARAM_BLOCK_KIND);
        EXPECT_EQ(g->m_hdwrParamSize, static_cast<int>(sizeof(OPENBCIPARAMV1)));
        const auto* prm = static_cast<const OPENBCIPARAMV1*>(g->getHdwrParam());
        ASSERT_NE(prm, nullptr);
        EXPECT_EQ(prm->inputTypeText, "Normal");
        EXPECT_EQ(prm->gain, 6);
        EXPECT_EQ(prm->srb2, 1);
    }
}

// Auxiliary channels of every board after the EEG ones, then the trailer.
void checkAuxAndTrailer(const ChnGeomList& l, int boards, int pins) {
    const wchar_t* aux[6] = {L"AccLft", L"AccUp", L"AccFwd", L"Analog1", L"Analog2", L"Analog3"};
    int i = boards * pins;
    for (int b = 0; b < boards; ++b) {
        for (int a = 0; a < 6; ++a, ++i) {
            SCOPED_TRACE("aux " + std::to_string(i));
            const CAcqChnlGeomzq* g = l[static_cast<std::uint32_t>(i)];
            EXPECT_EQ(g->m_name, aux[a]);
            if (a < 3) {
                EXPECT_EQ(g->m_kind, GEOM_KIND_ACCEL);
                EXPECT_EQ(g->m_axis, a + 1);
                EXPECT_EQ(g->m_sensorCode, 901 + a);
            } else {
                EXPECT_EQ(g->m_kind, GEOM_KIND_ANALOG);
                EXPECT_EQ(g->m_sensorCode, 420);
                EXPECT_EQ(g->m_geomFlag, 0);
            }
            EXPECT_EQ(g->getHdwrParam(), nullptr);
        }
    }
    for (int t = 0; t < TRAILER_CHANNELS; ++t, ++i) EXPECT_EQ(l[static_cast<std::uint32_t>(i)]->m_name, kTrailer[t]);
    EXPECT_EQ(static_cast<int>(l.Size()), i);
}

}  // namespace

TEST(GeometryDevice, ConstructedEmpty) {
    CDeviceEegObBleComzq dev;
    EXPECT_EQ(dev.m_linkType, 4);
    EXPECT_EQ(dev.m_cytonList.Size(), 0u);
    EXPECT_EQ(dev.m_daisyList.Size(), 0u);
    EXPECT_EQ(dev.m_pBoards, nullptr);
    EXPECT_EQ(dev.m_boardCount, 0);
    EXPECT_EQ(dev.selectChnGeom2Link(-1), 0);  // stored type 4 has no list
    EXPECT_EQ(dev.m_linkType, 4);
    EXPECT_EQ(dev.m_pCurChnList, nullptr);
}

TEST(GeometryDevice, NoBoardsGiveOnlyTheTrailer) {
    Boards none(0);
    CDeviceEegObBleComzq dev;
    EXPECT_EQ(dev.resetChnGeomCyton8(&none.list), 1);
    EXPECT_EQ(dev.resetChnGeomDaisy16(&none.list), 1);
    EXPECT_EQ(dev.m_pBoards, &none.list);
    checkAuxAndTrailer(dev.m_cytonList, 0, 8);
    checkAuxAndTrailer(dev.m_daisyList, 0, 16);
    EXPECT_EQ(dev.selectChnGeom2Link(6), 6);
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:0x8");
    EXPECT_EQ(dev.m_curChnIndex, 5);
    EXPECT_EQ(dev.selectChnGeom2Link(7), 6);
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:0x16");

    // Selecting before any rebuild works from no board list at all.
    CDeviceEegObBleComzq fresh;
    EXPECT_EQ(fresh.selectChnGeom2Link(6), 6);
    EXPECT_EQ(fresh.m_pCurChnList, &fresh.m_cytonList);
}

TEST(GeometryDevice, CytonListsForOneThreeAndManyBoards) {
    {
        Boards one(1);
        CDeviceEegObBleComzq dev;
        ASSERT_EQ(dev.resetChnGeomCyton8(&one.list), 1);
        EXPECT_EQ(dev.m_cytonList.Size(), 20u);
        EXPECT_EQ(dev.m_boardCount, 1);
        const wchar_t* t1[8] = {L"FP1", L"FP2", L"C3", L"C4", L"P3", L"P4", L"O1", L"O2"};
        for (int i = 0; i < 8; ++i) EXPECT_EQ(name(dev.m_cytonList, i), t1[i]);
        checkEeg(dev.m_cytonList, 1, 8, electrodeTable(0), L"CytonBoard%d");
        checkAuxAndTrailer(dev.m_cytonList, 1, 8);
    }
    {
        Boards three(3);
        CDeviceEegObBleComzq dev;
        ASSERT_EQ(dev.resetChnGeomCyton8(&three.list), 1);
        EXPECT_EQ(dev.m_cytonList.Size(), 14u * 3 + 6);
        checkEeg(dev.m_cytonList, 3, 8, electrodeTable(4), L"CytonBoard%d");  // T5
        checkAuxAndTrailer(dev.m_cytonList, 3, 8);
    }
    {
        Boards many(33);
        CDeviceEegObBleComzq dev;
        ASSERT_EQ(dev.resetChnGeomCyton8(&many.list), 1);
        EXPECT_EQ(dev.m_cytonList.Size(), 14u * 33 + 6);
        checkEeg(dev.m_cytonList, 33, 8, electrodeTable(9), L"CytonBoard%d");  // T10, clamped at row 259
        EXPECT_EQ(name(dev.m_cytonList, 259), name(dev.m_cytonList, 263));
        EXPECT_EQ(name(dev.m_cytonList, 263), L"Cz");
        EXPECT_EQ(name(dev.m_cytonList, 258), L"E256");
        checkAuxAndTrailer(dev.m_cytonList, 33, 8);
        EXPECT_EQ(dev.m_boardCount, 33);
    }
}

TEST(GeometryDevice, DaisyListsTakeOneRowPerChannel) {
    Boards one(1);
    CDeviceEegObBleComzq dev;
    ASSERT_EQ(dev.resetChnGeomDaisy16(&one.list), 1);
    EXPECT_EQ(dev.m_daisyList.Size(), 28u);
    checkEeg(dev.m_daisyList, 1, 16, electrodeTable(1), L"DaisyBoard%d");  // T2: 16 distinct rows
    checkAuxAndTrailer(dev.m_daisyList, 1, 16);

    Boards three(3);
    ASSERT_EQ(dev.resetChnGeomDaisy16(&three.list), 1);
    EXPECT_EQ(dev.m_daisyList.Size(), 22u * 3 + 6);
    checkEeg(dev.m_daisyList, 3, 16, electrodeTable(8), L"DaisyBoard%d");  // T9
    checkAuxAndTrailer(dev.m_daisyList, 3, 16);

    Boards many(17);  // 272 channels: the last rows repeat T10's last
    ASSERT_EQ(dev.resetChnGeomDaisy16(&many.list), 1);
    EXPECT_EQ(dev.m_daisyList.Size(), 22u * 17 + 6);
    checkEeg(dev.m_daisyList, 17, 16, electrodeTable(9), L"DaisyBoard%d");
    EXPECT_EQ(name(dev.m_daisyList, 271), L"Cz");
}

TEST(GeometryDevice, RebuildHandsOutFreshDefaultRecords) {
    Boards two(2);
    CDeviceEegObBleComzq dev;
    ASSERT_EQ(dev.resetChnGeomCyton8(&two.list), 1);
    CAcqChnlGeomzq* before = dev.m_cytonList[3];
    auto* prm = static_cast<OPENBCIPARAMV1*>(before->getHdwrParam());
    prm->gain = 24;
    prm->powerDown = 1;

    ASSERT_EQ(dev.resetChnGeomCyton8(&two.list), 1);
    CAcqChnlGeomzq* after = dev.m_cytonList[3];
    EXPECT_NE(after, before);
    auto* fresh = static_cast<OPENBCIPARAMV1*>(after->getHdwrParam());
    EXPECT_NE(fresh, prm);
    EXPECT_EQ(fresh->gain, 6);
    EXPECT_EQ(fresh->powerDown, 0);
    // The earlier record is the host's and still alive.
    EXPECT_EQ(prm->gain, 24);
    EXPECT_EQ(before->m_name, L"F4");
}

TEST(GeometryDevice, FailedParameterBlockEndsTheRebuild) {
    Boards one(1), two(2);
    CDeviceEegObBleComzq dev;
    ASSERT_EQ(dev.resetChnGeomCyton8(&one.list), 1);
    g_failParamAt = 3;
    EXPECT_EQ(dev.resetChnGeomDaisy16(&two.list), 0);
    g_failParamAt = 0;
    ASSERT_EQ(dev.m_daisyList.Size(), 2u);  // the records made so far stay
    EXPECT_EQ(dev.m_daisyList[1]->m_name, L"FP2");
    EXPECT_EQ(dev.m_boardCount, 1);         // not updated
    EXPECT_EQ(dev.m_pBoards, &two.list);

    // A selection that has to rebuild and cannot reports no channels.
    g_failParamAt = 1;
    EXPECT_EQ(dev.selectChnGeom2Link(7), 0);
    g_failParamAt = 0;
    EXPECT_EQ(dev.m_pCurChnList, nullptr);
    EXPECT_EQ(dev.selectChnGeom2Link(7), 22 * 2 + 6);
}

TEST(GeometryDevice, SelectionByLinkType) {
    Boards two(2), three(3);
    CDeviceEegObBleComzq dev;
    ASSERT_EQ(dev.resetChnGeomCyton8(&two.list), 1);
    ASSERT_EQ(dev.resetChnGeomDaisy16(&two.list), 1);

    EXPECT_EQ(dev.selectChnGeom2Link(6), 34);
    EXPECT_EQ(dev.m_pCurChnList, &dev.m_cytonList);
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:2x8");
    EXPECT_EQ(dev.m_curChnIndex, 33);
    EXPECT_EQ(dev.m_linkType, 6);

    CAcqChnlGeomzq* daisyFirst = dev.m_daisyList[0];
    EXPECT_EQ(dev.selectChnGeom2Link(7), 50);
    EXPECT_EQ(dev.m_daisyList[0], daisyFirst);  // the right size: not rebuilt
    EXPECT_EQ(dev.m_pCurChnList, &dev.m_daisyList);
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:2x16");
    EXPECT_EQ(dev.m_curChnIndex, 49);

    EXPECT_EQ(dev.selectChnGeom2Link(-1), 50);  // keeps the stored type 7
    EXPECT_EQ(dev.m_linkType, 7);

    EXPECT_EQ(dev.selectChnGeom2Link(5), 0);  // no list: only the stored type changes
    EXPECT_EQ(dev.m_linkType, 5);
    EXPECT_EQ(dev.m_pCurChnList, &dev.m_daisyList);
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:2x16");
    EXPECT_EQ(dev.selectChnGeom2Link(-1), 0);

    // A rebuild of the other list with more boards makes the selection rebuild.
    ASSERT_EQ(dev.resetChnGeomCyton8(&three.list), 1);
    EXPECT_EQ(dev.selectChnGeom2Link(7), 22 * 3 + 6);
    EXPECT_NE(dev.m_daisyList[0], daisyFirst);
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:3x16");
    EXPECT_EQ(dev.m_daisyList[16]->getElectrode()->m_boardLabel, L"DaisyBoard2");
}

TEST(GeometryDevice, TemplatesAndSampleRate) {
    CDeviceEegObBleComzq dev;
    EXPECT_EQ(dev.getEparams(8), g_elctdT1);
    EXPECT_EQ(dev.getEparams(9), g_elctdT2);
    EXPECT_EQ(dev.getEparams(67), g_elctdT9);
    EXPECT_EQ(dev.getEparams(68), g_elctdT10);
    EXPECT_EQ(CDeviceEegObBleCom::getEparamsRows(68), 260);

    EXPECT_EQ(dev.getSampleRate(7), 125);
    EXPECT_EQ(dev.m_sampleRate, 125.0);
    for (int t : {6, 0, -1}) {
        EXPECT_EQ(dev.getSampleRate(t), 250);
        EXPECT_EQ(dev.m_sampleRate, 250.0);
    }
}

TEST(GeometryDevice, CopiesShareRecordsButKeepTheirOwnCurrentList) {
    Boards two(2);
    auto dev = std::make_unique<CDeviceEegObBleComzq>();
    dev->resetChnGeomCyton8(&two.list);
    dev->resetChnGeomDaisy16(&two.list);
    dev->selectChnGeom2Link(6);
    dev->m_text1 = L"a";
    dev->m_reserved64 = 77;

    CDeviceEegObBleComzq copy(*dev);
    EXPECT_EQ(copy.m_cytonList.Size(), 34u);
    EXPECT_EQ(copy.m_cytonList[0], dev->m_cytonList[0]);
    EXPECT_EQ(copy.m_daisyList[49], dev->m_daisyList[49]);
    EXPECT_EQ(copy.m_pCurChnList, &copy.m_cytonList);
    EXPECT_EQ(copy.m_pBoards, &two.list);
    EXPECT_EQ(copy.m_boardCount, 2);
    EXPECT_EQ(copy.m_deviceLabel, L"MutliBoard:2x8");
    EXPECT_EQ(copy.m_text1, L"a");
    EXPECT_EQ(copy.m_reserved64, 77u);

    CDeviceEegObBleComzq assigned;
    assigned = *dev;
    assigned.selectChnGeom2Link(7);
    EXPECT_EQ(assigned.m_pCurChnList, &assigned.m_daisyList);
    EXPECT_EQ(dev->m_pCurChnList, &dev->m_cytonList);

    dev.reset();  // the records stay with the copies
    EXPECT_EQ(copy.m_cytonList[0]->m_name, L"FP1");
    EXPECT_EQ(copy.m_cytonList[0]->getElectrode()->m_portText, L"COM3");
    EXPECT_EQ(copy.cleanOpenBciGeom(), 1);
    EXPECT_EQ(copy.m_cytonList.Size(), 0u);
    EXPECT_EQ(copy.m_daisyList.Data(), nullptr);
    EXPECT_EQ(assigned.m_cytonList.Size(), 34u);
}

TEST(GeometryDevice, PreparesTheDataSet) {
    platform::ScriptedMessageBoxes boxes;
    CDeviceEegObBleComzq dev;
    CMeAcqDatazq data;
    EXPECT_EQ(dev.acgSns2chnl(&data, -1, -1, 0), 0);
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], L"Initialize hardware sensors first!?");

    Boards one(1);
    dev.resetChnGeomCyton8(&one.list);
    dev.selectChnGeom2Link(6);
    EXPECT_EQ(dev.acgSns2chnl(nullptr, -1, -1, 0), 0);
    EXPECT_EQ(boxes.texts().size(), 1u);

    dev.getSampleRate(7);  // the data set takes whatever rate the device holds
    CMEGRecordInfozq* info = data.getMEGRecordInfozq();
    info->m_trialCount = 3;
    info->m_samplesPerTrial = 100;
    ASSERT_EQ(dev.acgSns2chnl(&data, -1, -1, 0), 1);
    EXPECT_EQ(info->m_sampleRate, 125.0);
    EXPECT_EQ(info->m_sampleRate2, 125.0);
    EXPECT_EQ(data.m_recordFlag, 0);
    CMeAcqTrialzq* trial = data.getTrial(0);
    ASSERT_NE(trial, nullptr);
    EXPECT_EQ(data.getTrial(1), nullptr);  // monitoring uses one trial
    EXPECT_EQ(trial->getTotalSample(-1), 100);
    ASSERT_EQ(trial->getTotalChannel(), 20);
    for (int i = 0; i < 20; ++i) {
        CMeAcgChannelzq* ch = trial->getChannel(i);
        if (i >= 8 && i < 11) {
            EXPECT_EQ(ch->m_unit, L"mm/s^2") << i;
            EXPECT_EQ(ch->m_rangeMin, -2000.0);
            EXPECT_EQ(ch->m_rangeMax, 1996.1);
        } else {
            EXPECT_NE(ch->m_unit, L"mm/s^2") << i;
        }
    }
    EXPECT_EQ(trial->getChannel(0)->m_unit, L"uV");

    dev.getSampleRate(6);
    data.m_text1 = L"/tmp";
    data.m_text2 = L"rec";
    ASSERT_EQ(dev.acgSns2chnl(&data, 2, 50, 1), 1);
    EXPECT_EQ(data.m_recordFlag, 1);
    EXPECT_EQ(info->m_sampleRate, 250.0);
    ASSERT_NE(data.getTrial(1), nullptr);
    EXPECT_EQ(data.getTrial(2), nullptr);
    EXPECT_EQ(data.getTrial(1)->getTotalSample(-1), 50);
    EXPECT_EQ(data.getTrial(1)->getChannel(10)->m_unit, L"mm/s^2");
    EXPECT_EQ(data.m_text2, L"rec");

    info->m_trialCount = 3;
    info->m_samplesPerTrial = 40;
    ASSERT_EQ(dev.acgSns2chnl(&data, -1, -1, 1), 1);  // counts from the record info
    ASSERT_NE(data.getTrial(2), nullptr);
    EXPECT_EQ(data.getTrial(3), nullptr);
    EXPECT_EQ(data.getTrial(2)->getTotalSample(-1), 40);

    EXPECT_EQ(CDeviceEegObBleCom::acgFinishTrial(nullptr), 0);
    EXPECT_EQ(boxes.texts().size(), 1u);
}
