// The option tables and electrode templates: what the generated rows must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <string>
#include <tuple>
#include <span>

#include "geometry/ElectrodeTables.h"
#include "common/OptionTables.h"

namespace {

const ELCTD_POS_NAME_PXYZ* find(int table, const wchar_t* name) {
    ELCTD_TABLE t = electrodeTable(table);
    for (int i = 0; i < t.count; ++i)
        if (std::wstring(t.rows[i].name) == name) return &t.rows[i];
    return nullptr;
}

}  // namespace

TEST(GeometryOptionTables, CommandBytesAndBounds) {
    std::string inputs, signals, sd;
    for (int i = 0; inputTypeName(i); ++i) inputs += std::string(inputTypeName(i)) + "|";
    EXPECT_EQ(inputs, "Normal|Shorted|BIAS Meas|MVDD|Temp|Test Signals|BIAS DRP|BIAS DRN|");
    for (int i = 0; testSignalName(i); ++i) signals += std::string(testSignalName(i)) + "=" + testSignalCmd(i) + "|";
    EXPECT_EQ(signals, "To inter GND(VDD-VSS)=0|1xAmp slow pulse=-|1xAmp fast pulse==|DC signal=p|2xAmp slow pulse=[|"
                       "2xAmp fast pulse=]|");
    for (int i = 0; sdCardLogRow(i); ++i) sd += std::to_string(sdCardLogRow(i)->index) + sdCardLogRow(i)->command;
    EXPECT_EQ(sd, "01A2S3F4G5H6J7K8L");  // row 0 sends nothing
    EXPECT_EQ(std::make_tuple(inputTypeName(-1), testSignalCmd(6), dongleBaudRow(3)),
              std::make_tuple(nullptr, '\0', nullptr));
}

TEST(GeometryElectrodeTables, CountsNamesKindsAndAnchorRows) {
    struct Shape {
        int rows;
        const wchar_t *first, *last;
        bool reference;  // A1 and A2 last, as reference electrodes
    } shapes[ELCTD_TABLE_COUNT] = {
        {10, L"FP1", L"A2", true},  {18, L"FP1", L"A2", true},  {21, L"FP1", L"A2", true}, {21, L"FP1", L"A2", true},
        {25, L"Fp1", L"O2", false}, {32, L"FP1", L"A2", true},  {33, L"Fp1", L"O2", false}, {47, L"Fpz", L"Nz", false},
        {67, L"FidNz", L"E64", false}, {260, L"FidNz", L"Cz", false},
    };
    for (int t = 0; t < ELCTD_TABLE_COUNT; ++t) {
        SCOPED_TRACE("T" + std::to_string(t + 1));
        ELCTD_TABLE tab = electrodeTable(t);
        ASSERT_EQ(tab.count, shapes[t].rows);
        EXPECT_EQ(std::wstring(tab.rows[0].name), shapes[t].first);
        EXPECT_EQ(std::wstring(tab.rows[tab.count - 1].name), shapes[t].last);
        for (int i = 0; i < tab.count; ++i) {
            const int kind = shapes[t].reference && i >= tab.count - 2 ? 1 : 2;
            EXPECT_EQ(std::make_pair(tab.rows[i].kind, tab.rows[i].kindCode), std::make_pair(kind, 300 + kind)) << i;
        }
    }
    // The nets: three fiducials, then E1.. in order.
    for (int t : {8, 9})
        for (int i = 3; i < electrodeTable(t).count - (t == 9 ? 1 : 0); ++i)
            EXPECT_EQ(std::wstring(electrodeTable(t).rows[i].name), L"E" + std::to_wstring(i - 2));
    EXPECT_EQ(electrodeTable(10).count, 0);
    EXPECT_EQ(electrodeRow(9, 259), &g_elctdT10[259]);
    EXPECT_EQ(electrodeRow(9, 260), nullptr);

    struct Anchor {
        int table;
        const wchar_t* name;
        double x, y, z;
    } anchors[] = {
        {0, L"FP1", 30, 70.84885, -104.70795},   {1, L"F4", -53.79196, 115.24002, -59.14627},
        {1, L"A2", -90.92224, 0.8736, -33.5347}, {0, L"O2", -26.47095, 38.18619, 96.38092},
        {4, L"Fp1", 95, 30.9, -3.49},            {7, L"Nz", 87.4, 0, -48.5},
        {7, L"Cz", 0.157, 0, 100},               {8, L"E1", 4.82147, 8.46376, -0.06398},
        {9, L"E256", -5.08583, 0.12101, -11.0429}, {9, L"Cz", 0, 0, 8.95379},
    };
    for (const Anchor& a : anchors) {
        const ELCTD_POS_NAME_PXYZ* r = find(a.table, a.name);
        ASSERT_NE(r, nullptr) << a.name;
        EXPECT_EQ(std::make_tuple(r->x, r->y, r->z), std::make_tuple(a.x, a.y, a.z)) << a.name;
    }
}

TEST(GeometryElectrodeTables, EachTemplateKeepsItsFrame) {
    // T1-T4, T6: left (odd) positive x, right (even) negative, frontal rows negative z.
    for (int t : {0, 1, 2, 3, 5}) {
        for (const ELCTD_POS_NAME_PXYZ& r : std::span(electrodeTable(t).rows, electrodeTable(t).count)) {
            const std::wstring n = r.name;
            EXPECT_TRUE(!std::iswdigit(n.back()) || (r.x > 0) == ((n.back() - L'0') % 2 == 1)) << n;
            EXPECT_TRUE(n[0] != L'F' || r.z < 0) << n;
        }
    }
    // T5, T7, T8: radius about 100, front positive x, left positive y, up z.
    for (int t : {4, 6, 7}) {
        ELCTD_TABLE tab = electrodeTable(t);
        for (const ELCTD_POS_NAME_PXYZ& r : std::span(tab.rows, tab.count)) {
            EXPECT_NEAR(std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z), 100.0, 1.0) << r.name;
            // Frontal rows lie in front, parietal and occipital ones behind.
            const std::wstring n = r.name;
            const bool front = n[0] == L'F' || n.rfind(L"AF", 0) == 0, back = n[0] == L'P' || n[0] == L'O';
            EXPECT_TRUE(!front || r.x > 0) << n << " of template " << t;
            EXPECT_TRUE(!back || r.x < 0) << n << " of template " << t;
        }
        EXPECT_GT(find(t, L"Fp1")->x, 50);
        EXPECT_LT(find(t, L"O2")->y, 0);
        EXPECT_GT(find(t, L"Cz")->z, 99);
        EXPECT_GT(find(t, L"T7")->y, 90);
    }
    // T9, T10: the HydroCel frame, within 11.5 on every axis.
    for (int t : {8, 9})
        for (const ELCTD_POS_NAME_PXYZ& r : std::span(electrodeTable(t).rows, electrodeTable(t).count))
            EXPECT_LE(std::max({std::fabs(r.x), std::fabs(r.y), std::fabs(r.z)}), 11.5) << r.name;
}

TEST(GeometryElectrodeTables, SelectionByChannelCount) {
    // Each template's last count and the first past it.
    const std::pair<int, int> cases[] = {{-5, 0}, {8, 0},  {9, 1},  {16, 1}, {17, 2}, {19, 2}, {20, 3},
                                         {21, 3}, {22, 4}, {24, 4}, {25, 5}, {32, 5}, {33, 6}, {34, 7},
                                         {47, 7}, {48, 8}, {67, 8}, {68, 9}};
    for (auto [n, t] : cases) EXPECT_EQ(electrodeTableFor(n), t) << n;
}
