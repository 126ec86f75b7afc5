// The channel lists that describe the boards to the host, their selection by
// link type, and the preparation of the host's data set from them.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/OpenBciParam.h"
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

// EEG records of one list, board by board: names and positions from `table`
// (its last row repeating past its end), labels, ports, pins, channel numbers,
// a default parameter block; then the auxiliary channels of every board and
// the host's trailer.
void checkList(const ChnGeomList& l, int boards, int pins, const ELCTD_TABLE& table, const wchar_t* labelFormat) {
    for (int k = 0; k < boards * pins; ++k) {
        SCOPED_TRACE("channel " + std::to_string(k));
        const CAcqChnlGeomzq* g = l[static_cast<std::uint32_t>(k)];
        const ELCTD_POS_NAME_PXYZ& row = table.rows[k < table.count ? k : table.count - 1];
        EXPECT_EQ(g->m_kind, GEOM_KIND_EEG);
        EXPECT_EQ(g->m_name, row.name);
        const CEEGelectrode* e = g->getElectrode();
        ASSERT_NE(e, nullptr);
        EXPECT_TRUE(e->m_x == row.x && e->m_y == row.y && e->m_z == row.z);
        EXPECT_TRUE(e->m_kind == row.kind && e->m_kindCode == row.kindCode);
        CString label, port;
        label.Format(labelFormat, k / pins + 1);
        port.Format(L"COM%d", k / pins + 3);
        EXPECT_EQ(e->m_boardLabel, label);
        EXPECT_EQ(e->m_portText, port);
        EXPECT_EQ(e->m_boardIndex, k / pins);
        EXPECT_EQ(e->m_pin, k % pins);
        EXPECT_EQ(e->m_chnNumber, k);
        EXPECT_EQ(g->m_hdwrParamKind, OPENBCIPARAM_BLOCK_KIND);
        const auto* prm = static_cast<const OPENBCIPARAMV1*>(g->getHdwrParam());
        ASSERT_NE(prm, nullptr);
        EXPECT_EQ(prm->inputTypeText, "Normal");
        EXPECT_EQ(prm->gain, 6);
    }
    const wchar_t* aux[6] = {L"AccLft", L"AccUp", L"AccFwd", L"Analog1", L"Analog2", L"Analog3"};
    int i = boards * pins;
    for (int b = 0; b < boards; ++b) {
        for (int a = 0; a < 6; ++a, ++i) {
            SCOPED_TRACE("aux " + std::to_string(i));
            const CAcqChnlGeomzq* g = l[static_cast<std::uint32_t>(i)];
            EXPECT_EQ(g->m_name, aux[a]);
            EXPECT_EQ(g->m_kind, a < 3 ? GEOM_KIND_ACCEL : GEOM_KIND_ANALOG);
            EXPECT_EQ(g->m_sensorCode, a < 3 ? 901 + a : 420);
            EXPECT_EQ(a < 3 ? g->m_axis : g->m_geomFlag, a < 3 ? a + 1 : 0);
            EXPECT_EQ(g->getHdwrParam(), nullptr);
            EXPECT_EQ(g->m_boardIndex, b);
        }
    }
    const wchar_t* trailer[TRAILER_CHANNELS] = {L"Trigger", L"TimeStamp", L"Event", L"Response", L"Marker", L"Reserved"};
    for (int t = 0; t < TRAILER_CHANNELS; ++t, ++i) EXPECT_EQ(l[static_cast<std::uint32_t>(i)]->m_name, trailer[t]);
    EXPECT_EQ(static_cast<int>(l.Size()), i);
}

}  // namespace

TEST(GeometryDevice, ListsByLayoutAndBoardCountTakeTheFittingTemplate) {
    struct Case {
        int pins, boards, table;
    } cases[] = {
        {8, 0, 0},  {8, 1, 0},  {8, 3, 4} /* T5 */,  {8, 33, 9} /* T10, last row repeats */,
        {16, 0, 0}, {16, 1, 1} /* T2: 16 distinct rows */, {16, 3, 8} /* T9 */, {16, 17, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.boards) + " boards of " + std::to_string(c.pins));
        Boards boards(c.boards);
        CDeviceEegObBleComzq dev;
        const bool cyton = c.pins == 8;
        ASSERT_EQ(cyton ? dev.resetChnGeomCyton8(&boards.list) : dev.resetChnGeomDaisy16(&boards.list), 1);
        EXPECT_EQ(dev.m_pBoards, &boards.list);
        EXPECT_EQ(dev.m_boardCount, c.boards);
        checkList(cyton ? dev.m_cytonList : dev.m_daisyList, c.boards, c.pins, electrodeTable(c.table),
                  cyton ? L"CytonBoard%d" : L"DaisyBoard%d");
        CString label;
        label.Format(L"MutliBoard:%dx%d", c.boards, c.pins);
        EXPECT_EQ(dev.selectChnGeom2Link(cyton ? 6 : 7), (c.pins + 6) * c.boards + 6);
        EXPECT_EQ(dev.m_deviceLabel, label);
    }
}

TEST(GeometryDevice, RebuildHandsOutFreshDefaultRecords) {
    Boards two(2);
    CDeviceEegObBleComzq dev;
    ASSERT_EQ(dev.resetChnGeomCyton8(&two.list), 1);
    CAcqChnlGeomzq* before = dev.m_cytonList[3];
    auto* prm = static_cast<OPENBCIPARAMV1*>(before->getHdwrParam());
    prm->gain = 24;

    ASSERT_EQ(dev.resetChnGeomCyton8(&two.list), 1);
    CAcqChnlGeomzq* after = dev.m_cytonList[3];
    EXPECT_NE(after, before);
    EXPECT_EQ(static_cast<OPENBCIPARAMV1*>(after->getHdwrParam())->gain, 6);
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
    EXPECT_EQ(dev.selectChnGeom2Link(-1), 0);  // stored type 4 has no list
    EXPECT_EQ(dev.m_pCurChnList, nullptr);
    ASSERT_EQ(dev.resetChnGeomCyton8(&two.list), 1);
    ASSERT_EQ(dev.resetChnGeomDaisy16(&two.list), 1);

    EXPECT_EQ(dev.selectChnGeom2Link(6), 34);
    EXPECT_EQ(dev.m_pCurChnList, &dev.m_cytonList);
    EXPECT_EQ(dev.m_curChnIndex, 33);
    EXPECT_EQ(dev.m_linkType, 6);

    CAcqChnlGeomzq* daisyFirst = dev.m_daisyList[0];
    EXPECT_EQ(dev.selectChnGeom2Link(7), 50);
    EXPECT_EQ(dev.m_daisyList[0], daisyFirst);  // the right size: not rebuilt
    EXPECT_EQ(dev.m_pCurChnList, &dev.m_daisyList);
    EXPECT_EQ(dev.m_curChnIndex, 49);
    EXPECT_EQ(dev.selectChnGeom2Link(-1), 50);  // keeps the stored type 7

    EXPECT_EQ(dev.selectChnGeom2Link(5), 0);  // no list: only the stored type changes
    EXPECT_EQ(dev.m_linkType, 5);
    EXPECT_EQ(dev.m_pCurChnList, &dev.m_daisyList);
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:2x16");
    EXPECT_EQ(dev.selectChnGeom2Link(-1), 0);

    // A rebuild of the other list with more boards makes the selection rebuild.
    ASSERT_EQ(dev.resetChnGeomCyton8(&three.list), 1);
    EXPECT_EQ(dev.selectChnGeom2Link(7), 22 * 3 + 6);
    EXPECT_NE(dev.m_daisyList[0], daisyFirst);
    EXPECT_EQ(dev.m_daisyList[16]->getElectrode()->m_boardLabel, L"DaisyBoard2");

    // Selecting before any rebuild works from no board list at all.
    CDeviceEegObBleComzq fresh;
    EXPECT_EQ(fresh.selectChnGeom2Link(6), 6);
    EXPECT_EQ(fresh.m_pCurChnList, &fresh.m_cytonList);
}

TEST(GeometryDevice, TemplatesAndSampleRate) {
    CDeviceEegObBleComzq dev;
    EXPECT_EQ(dev.getEparams(9), g_elctdT2);
    EXPECT_EQ(dev.getEparams(68), g_elctdT10);
    EXPECT_EQ(CDeviceEegObBleCom::getEparamsRows(68), 260);
    for (auto [type, rate] : {std::pair{7, 125}, {6, 250}, {0, 250}, {-1, 250}}) {
        EXPECT_EQ(dev.getSampleRate(type), rate);
        EXPECT_EQ(dev.m_sampleRate, rate);
    }
}

TEST(GeometryDevice, CopiesShareRecordsButKeepTheirOwnCurrentList) {
    Boards two(2);
    auto dev = std::make_unique<CDeviceEegObBleComzq>();
    dev->resetChnGeomCyton8(&two.list);
    dev->resetChnGeomDaisy16(&two.list);
    dev->selectChnGeom2Link(6);

    CDeviceEegObBleComzq copy(*dev);
    EXPECT_EQ(copy.m_cytonList[0], dev->m_cytonList[0]);
    EXPECT_EQ(copy.m_daisyList[49], dev->m_daisyList[49]);
    EXPECT_EQ(copy.m_pCurChnList, &copy.m_cytonList);
    EXPECT_EQ(copy.m_pBoards, &two.list);
    EXPECT_EQ(copy.m_boardCount, 2);

    CDeviceEegObBleComzq assigned;
    assigned = *dev;
    assigned.selectChnGeom2Link(7);
    EXPECT_EQ(assigned.m_pCurChnList, &assigned.m_daisyList);
    EXPECT_EQ(dev->m_pCurChnList, &dev->m_cytonList);

    dev.reset();  // the records stay with the copies
    EXPECT_EQ(copy.m_cytonList[0]->getElectrode()->m_portText, L"COM3");
    EXPECT_EQ(copy.cleanOpenBciGeom(), 1);
    EXPECT_EQ(copy.m_daisyList.Data(), nullptr);
    EXPECT_EQ(assigned.m_cytonList.Size(), 34u);
}

TEST(GeometryDevice, PreparesTheDataSet) {
    platform::ScriptedMessageBoxes boxes;
    CDeviceEegObBleComzq dev;
    CMeAcqDatazq data;
    EXPECT_EQ(dev.acgSns2chnl(&data, -1, -1, 0), 0);
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"Initialize hardware sensors first!?"});

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
        const bool accel = i >= 8 && i < 11;
        EXPECT_EQ(ch->m_unit == L"mm/s^2", accel) << i;
        if (accel) {
            EXPECT_TRUE(ch->m_rangeMin == -2000.0 && ch->m_rangeMax == 1996.1) << i;
        }
    }
    EXPECT_EQ(trial->getChannel(0)->m_unit, L"uV");

    dev.getSampleRate(6);
    data.m_recordFolder = L"/tmp";
    data.m_recordName = L"rec";
    ASSERT_EQ(dev.acgSns2chnl(&data, 2, 50, 1), 1);
    EXPECT_EQ(data.m_recordFlag, 1);
    EXPECT_EQ(info->m_sampleRate, 250.0);
    EXPECT_EQ(data.getTrial(2), nullptr);
    EXPECT_EQ(data.getTrial(1)->getTotalSample(-1), 50);
    EXPECT_EQ(data.getTrial(1)->getChannel(10)->m_unit, L"mm/s^2");

    info->m_trialCount = 3;
    info->m_samplesPerTrial = 40;
    ASSERT_EQ(dev.acgSns2chnl(&data, -1, -1, 1), 1);  // counts from the record info
    EXPECT_EQ(data.getTrial(3), nullptr);
    EXPECT_EQ(data.getTrial(2)->getTotalSample(-1), 40);

    EXPECT_EQ(CDeviceEegObBleCom::acgFinishTrial(nullptr), 0);
}
