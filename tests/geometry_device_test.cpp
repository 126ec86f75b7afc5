// The boards' channel lists, their selection by link type, and the data set.
#include <gtest/gtest.h>

#include <tuple>
#include <string>
#include <vector>

#include "common/OpenBciParam.h"
#include "geometry/DeviceEegObBleCom.h"
#include "geometry/ElectrodeTables.h"
#include "link/ConfigComRadiozq.h"
#include "platform/msgbox.h"

namespace {

struct Boards {
    explicit Boards(int n) : own(static_cast<std::size_t>(n)) {
        for (int i = 0; i < n; ++i) {
            own[static_cast<std::size_t>(i)].m_portName.Format(L"COM%d", i + 3);
            list.push_back(&own[static_cast<std::size_t>(i)]);
        }
    }
    std::vector<CConfigComRadiozq> own;
    std::vector<CConfigComRadiozq*> list;
};

// Board by board, EEG records from `table` (its last row repeating past its
// end), then every board's auxiliary channels, then the host's trailer.
void checkList(const ChnGeomList& l, int boards, int pins, const ELCTD_TABLE& table, const wchar_t* labelFormat) {
    for (int k = 0; k < boards * pins; ++k) {
        SCOPED_TRACE("channel " + std::to_string(k));
        const CAcqChnlGeomzq* g = l[static_cast<std::uint32_t>(k)];
        const ELCTD_POS_NAME_PXYZ& row = table.rows[k < table.count ? k : table.count - 1];
        EXPECT_EQ(g->m_kind, GEOM_KIND_EEG);
        EXPECT_EQ(g->m_name, row.name);
        const CEEGelectrode* e = g->getElectrode();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::make_tuple(e->m_x, e->m_y, e->m_z, e->m_kind, e->m_kindCode),
                  std::make_tuple(row.x, row.y, row.z, row.kind, row.kindCode));
        CString label, port;
        label.Format(labelFormat, k / pins + 1);
        port.Format(L"COM%d", k / pins + 3);
        EXPECT_EQ(e->m_boardLabel, label);
        EXPECT_EQ(e->m_portText, port);
        EXPECT_EQ(std::make_tuple(e->m_boardIndex, e->m_pin, e->m_chnNumber), std::make_tuple(k / pins, k % pins, k));
        EXPECT_EQ(g->m_hdwrParamKind, OPENBCIPARAM_BLOCK_KIND);
        const auto* prm = static_cast<const OPENBCIPARAMV1*>(g->getHdwrParam());
        ASSERT_NE(prm, nullptr);
        EXPECT_EQ(std::make_pair(prm->inputTypeText, prm->gain), std::make_pair(CStringA("Normal"), 6));
    }
    const wchar_t* aux[6] = {L"AccLft", L"AccUp", L"AccFwd", L"Analog1", L"Analog2", L"Analog3"};
    int i = boards * pins;
    for (int b = 0; b < boards; ++b) {
        for (int a = 0; a < 6; ++a, ++i) {
            const CAcqChnlGeomzq* g = l[static_cast<std::uint32_t>(i)];
            const bool accel = a < 3;
            EXPECT_EQ(g->m_name, aux[a]) << i;
            EXPECT_EQ(std::make_tuple(g->m_kind, g->m_sensorCode, accel ? g->m_axis : g->m_geomFlag, g->m_boardIndex),
                      std::make_tuple(accel ? GEOM_KIND_ACCEL : GEOM_KIND_ANALOG, accel ? 901 + a : 420,
                                      accel ? a + 1 : 0, b))
                << i;
            EXPECT_EQ(g->getHdwrParam(), nullptr) << i;
        }
    }
    const wchar_t* trailer[] = {L"Trigger", L"TimeStamp", L"Event", L"Response", L"Marker", L"Reserved"};
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
        EXPECT_EQ(std::make_pair(dev.m_pBoards, dev.m_boardCount), std::make_pair(&boards.list, c.boards));
        checkList(cyton ? dev.m_cytonList : dev.m_daisyList, c.boards, c.pins, electrodeTable(c.table),
                  cyton ? L"CytonBoard%d" : L"DaisyBoard%d");
        CString label;
        label.Format(L"MutliBoard:%dx%d", c.boards, c.pins);
        EXPECT_EQ(dev.selectChnGeom2Link(cyton ? 6 : 7), (c.pins + 6) * c.boards + 6);
        EXPECT_EQ(dev.m_deviceLabel, label);
    }
}

TEST(GeometryDevice, SelectionByLinkType) {
    Boards two(2), three(3);
    CDeviceEegObBleComzq dev;
    EXPECT_EQ(dev.selectChnGeom2Link(-1), 0);  // stored type 4 has no list
    EXPECT_EQ(dev.m_pCurChnList, nullptr);
    ASSERT_EQ(dev.resetChnGeomCyton8(&two.list), 1);
    ASSERT_EQ(dev.resetChnGeomDaisy16(&two.list), 1);
    CAcqChnlGeomzq* daisyFirst = dev.m_daisyList[0];
    // Type asked for, channels, the list then current and its last index, the type kept.
    const struct {
        int type, channels;
        ChnGeomList* list;
        int cur, stored;
    } steps[] = {{6, 34, &dev.m_cytonList, 33, 6}, {7, 50, &dev.m_daisyList, 49, 7}, {-1, 50, &dev.m_daisyList, 49, 7},
                 {5, 0, &dev.m_daisyList, 49, 5},  {-1, 0, &dev.m_daisyList, 49, 5}};
    for (const auto& s : steps) {
        EXPECT_EQ(dev.selectChnGeom2Link(s.type), s.channels) << s.type;
        EXPECT_EQ(std::make_tuple(dev.m_pCurChnList, dev.m_curChnIndex, dev.m_linkType),
                  std::make_tuple(s.list, s.cur, s.stored));
    }
    EXPECT_EQ(dev.m_daisyList[0], daisyFirst);  // the right size: not rebuilt
    EXPECT_EQ(dev.m_deviceLabel, L"MutliBoard:2x16");

    // A rebuild of the other list with more boards makes the selection rebuild.
    ASSERT_EQ(dev.resetChnGeomCyton8(&three.list), 1);
    EXPECT_EQ(dev.selectChnGeom2Link(7), 22 * 3 + 6);
    EXPECT_NE(dev.m_daisyList[0], daisyFirst);
    EXPECT_EQ(dev.m_daisyList[16]->getElectrode()->m_boardLabel, L"DaisyBoard2");
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

    // Monitoring (one trial) at whatever rate the device holds, then
    // recording by the arguments, then by the record info.
    CMEGRecordInfozq* info = data.getMEGRecordInfozq();
    const struct {
        int rateType, trialsArg, samplesArg, record, infoTrials, infoSamples;
        double rate;
        int trials, samples;
    } cases[] = {{7, -1, -1, 0, 3, 100, 125.0, 1, 100},
                 {6, 2, 50, 1, 3, 100, 250.0, 2, 50},
                 {6, -1, -1, 1, 3, 40, 250.0, 3, 40}};
    for (const auto& c : cases) {
        dev.getSampleRate(c.rateType);
        info->m_trialCount = c.infoTrials;
        info->m_samplesPerTrial = c.infoSamples;
        ASSERT_EQ(dev.acgSns2chnl(&data, c.trialsArg, c.samplesArg, c.record), 1);
        EXPECT_EQ(std::make_tuple(info->m_sampleRate, info->m_sampleRate2, data.m_recordFlag),
                  std::make_tuple(c.rate, c.rate, c.record));
        EXPECT_EQ(data.getTrial(c.trials), nullptr);
        CMeAcqTrialzq* trial = data.getTrial(c.trials - 1);
        ASSERT_NE(trial, nullptr);
        EXPECT_EQ(trial->getTotalSample(-1), c.samples);
        ASSERT_EQ(trial->getTotalChannel(), 20);
        // Only the accelerometer channels (8-10) are in mm/s^2, over +-2 g.
        for (int i = 0; i < 20; ++i) EXPECT_EQ(trial->getChannel(i)->m_unit == L"mm/s^2", i >= 8 && i < 11) << i;
        EXPECT_EQ(std::make_pair(trial->getChannel(10)->m_rangeMin, trial->getChannel(10)->m_rangeMax),
                  std::make_pair(-2000.0, 1996.1));
        EXPECT_EQ(trial->getChannel(0)->m_unit, L"uV");
    }
    EXPECT_EQ(CDeviceEegObBleCom::acgFinishTrial(nullptr), 0);
}
