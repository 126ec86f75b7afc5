// The option tables and the electrode position templates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "geometry/ElectrodeTables.h"
#include "geometry/OptionTables.h"

namespace {

std::vector<std::wstring> names(int table) {
    std::vector<std::wstring> out;
    ELCTD_TABLE t = electrodeTable(table);
    for (int i = 0; i < t.count; ++i) out.emplace_back(t.rows[i].name);
    return out;
}

std::vector<std::wstring> split(const std::wstring& s) {
    std::vector<std::wstring> out;
    size_t p = 0;
    while (p < s.size()) {
        size_t q = s.find(L' ', p);
        if (q == std::wstring::npos) q = s.size();
        if (q > p) out.push_back(s.substr(p, q - p));
        p = q + 1;
    }
    return out;
}

const ELCTD_POS_NAME_PXYZ* find(int table, const wchar_t* name) {
    ELCTD_TABLE t = electrodeTable(table);
    for (int i = 0; i < t.count; ++i)
        if (std::wstring(t.rows[i].name) == name) return &t.rows[i];
    return nullptr;
}

void expectRow(int table, const wchar_t* name, double x, double y, double z) {
    const ELCTD_POS_NAME_PXYZ* r = find(table, name);
    ASSERT_NE(r, nullptr) << "T" << table + 1;
    EXPECT_DOUBLE_EQ(r->x, x) << "T" << table + 1;
    EXPECT_DOUBLE_EQ(r->y, y) << "T" << table + 1;
    EXPECT_DOUBLE_EQ(r->z, z) << "T" << table + 1;
}

}  // namespace

TEST(GeometryOptionTables, RowsAndCommands) {
    std::vector<std::string> inputs;
    for (int i = 0; i < INPUT_TYPE_ROWS; ++i) inputs.emplace_back(inputTypeName(i));
    EXPECT_EQ(inputs, (std::vector<std::string>{"Normal", "Shorted", "BIAS Meas", "MVDD", "Temp", "Test Signals",
                                                "BIAS DRP", "BIAS DRN"}));
    EXPECT_EQ(inputTypeName(-1), nullptr);
    EXPECT_EQ(inputTypeName(8), nullptr);

    EXPECT_STREQ(g_testSignalCmds, "0-=p[]");
    EXPECT_STREQ(testSignalName(0), "To inter GND(VDD-VSS)");
    EXPECT_STREQ(testSignalName(3), "DC signal");
    EXPECT_STREQ(testSignalName(5), "2xAmp fast pulse");
    EXPECT_EQ(testSignalCmd(1), '-');
    EXPECT_EQ(testSignalCmd(4), '[');
    EXPECT_EQ(testSignalCmd(6), '\0');
    EXPECT_EQ(testSignalName(6), nullptr);

    const double rates[] = {250, 500, 1000, 2000, 4000, 8000, 16000};
    for (int i = 0; i < SAMPLE_RATE_ROWS; ++i) {
        const SAMPLE_RATE_ROW* r = sampleRateRow(i);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->rate, rates[i]);
        EXPECT_EQ(std::string(r->command), std::string("~") + char('6' - i));
        EXPECT_EQ(std::wstring(r->label), std::to_wstring(static_cast<int>(rates[i])) + L" Hz");
    }
    EXPECT_EQ(sampleRateRow(7), nullptr);
    EXPECT_STREQ(g_sampleRateQuery125.command, "~~");
    EXPECT_EQ(g_sampleRateQuery125.rate, 125.0);
    EXPECT_EQ(std::wstring(g_sampleRateQuery125.label), L"125 Hz");
    EXPECT_STREQ(g_sampleRateQuery250.command, "~~");
    EXPECT_EQ(g_sampleRateQuery250.rate, 250.0);

    ASSERT_NE(dongleBaudRow(2), nullptr);
    EXPECT_EQ(dongleBaudRow(0)->baud, 115200u);
    EXPECT_EQ(dongleBaudRow(0)->radioCode, 0x05);
    EXPECT_EQ(dongleBaudRow(1)->radioCode, 0x06);
    EXPECT_EQ(dongleBaudRow(2)->baud, 921600u);
    EXPECT_EQ(dongleBaudRow(2)->radioCode, 0x0A);
    EXPECT_EQ(std::wstring(dongleBaudRow(2)->label), L"921600 Hyper-Speed");
    for (int i = 0; i < DONGLE_BAUD_ROWS; ++i) EXPECT_EQ(dongleBaudRow(i)->index, i);
    EXPECT_EQ(dongleBaudRow(3), nullptr);

    EXPECT_STREQ(sdCardLogRow(0)->label, "Do not write to SD...");
    EXPECT_STREQ(sdCardLogRow(0)->command, "");
    std::string letters;
    for (int i = 1; i < SDCARD_LOG_ROWS; ++i) {
        EXPECT_EQ(sdCardLogRow(i)->index, i);
        letters += sdCardLogRow(i)->command;
    }
    EXPECT_EQ(letters, "ASFGHJKL");
    EXPECT_STREQ(sdCardLogRow(8)->label, "24 hour maximum");
    EXPECT_EQ(sdCardLogRow(9), nullptr);
    EXPECT_EQ(g_sdCardStopRow.index, -1);
    EXPECT_STREQ(g_sdCardStopRow.command, "j");
    EXPECT_STREQ(g_sdCardStopRow.label, "Stop Logging and Close SD File");

    EXPECT_DOUBLE_EQ(g_accelScale, 0.000125);
}

TEST(GeometryElectrodeTables, NamesCountsAndKinds) {
    const wchar_t* expected[ELCTD_TABLE_COUNT] = {
        L"FP1 FP2 C3 C4 P3 P4 O1 O2 A1 A2",
        L"FP1 FP2 F3 F4 F7 F8 T3 T4 T5 T6 C3 C4 P3 P4 O1 O2 A1 A2",
        L"FP1 FP2 F3 F4 F7 F8 T3 T4 T5 T6 C3 C4 P3 P4 O1 O2 FZ CZ PZ A1 A2",
        L"FP1 FP2 F7 F3 FZ F4 F8 C3 CZ C4 T3 T4 T5 T6 P3 PZ P4 O1 O2 A1 A2",
        L"Fp1 Fp2 F9 F7 F3 Fz F4 F8 F10 T9 T7 C3 Cz C4 T8 T10 P9 P7 P3 Pz P4 P8 P10 O1 O2",
        L"FP1 FP2 F7 F3 FZ F4 F8 FT7 FC3 FCZ FC4 FT8 T7 C3 CZ C4 T8 TP7 CP3 CPZ CP4 TP8 P7 P3 PZ P4 P8 O1 OZ O2 A1 A2",
        L"Fp1 Fp2 F9 F7 F3 Fz F4 F8 F10 FC5 FC1 FC2 FC6 T9 T7 C3 Cz C4 T8 T10 CP5 CP1 CP2 CP6 P9 P7 P3 Pz P4 P8 P10 "
        L"O1 O2",
        L"Fpz Fz Cz Pz Oz Iz Fp1 Fp2 AF9 AF5 AF1 AF2 AF6 AF10 F7 F3 F4 F8 FT9 FC5 FC1 FC2 FC6 FT10 T7 C3 C4 T8 TP9 "
        L"CP5 CP1 CP2 CP6 TP10 P7 P3 P4 P8 PO9 PO5 PO1 PO2 PO6 PO10 O1 O2 Nz",
        nullptr,
        nullptr,
    };
    const int rows[ELCTD_TABLE_COUNT] = {10, 18, 21, 21, 25, 32, 33, 47, 67, 260};
    const int declared[ELCTD_TABLE_COUNT] = {ELCTD_T1_ROWS, ELCTD_T2_ROWS, ELCTD_T3_ROWS, ELCTD_T4_ROWS,
                                             ELCTD_T5_ROWS, ELCTD_T6_ROWS, ELCTD_T7_ROWS, ELCTD_T8_ROWS,
                                             ELCTD_T9_ROWS, ELCTD_T10_ROWS};
    for (int t = 0; t < ELCTD_TABLE_COUNT; ++t) {
        EXPECT_EQ(electrodeTable(t).count, rows[t]) << "T" << t + 1;
        EXPECT_EQ(declared[t], rows[t]);
        if (expected[t]) {
            EXPECT_EQ(names(t), split(expected[t])) << "T" << t + 1;
        }
    }
    for (int t : {8, 9}) {
        std::vector<std::wstring> n = names(t);
        EXPECT_EQ(n[0], L"FidNz");
        EXPECT_EQ(n[1], L"FidT9");
        EXPECT_EQ(n[2], L"FidT10");
        int electrodes = t == 8 ? 64 : 256;
        for (int i = 1; i <= electrodes; ++i) EXPECT_EQ(n[2 + i], L"E" + std::to_wstring(i));
    }
    EXPECT_EQ(names(9).back(), L"Cz");

    // A1 and A2 are reference electrodes only where T1-T4 and T6 list them last.
    const std::set<int> withReference = {0, 1, 2, 3, 5};
    for (int t = 0; t < ELCTD_TABLE_COUNT; ++t) {
        ELCTD_TABLE tab = electrodeTable(t);
        for (int i = 0; i < tab.count; ++i) {
            bool ref = withReference.count(t) && i >= tab.count - 2;
            EXPECT_EQ(tab.rows[i].kind, ref ? 1 : 2) << "T" << t + 1 << " row " << i;
            EXPECT_EQ(tab.rows[i].kindCode, ref ? 301 : 302) << "T" << t + 1 << " row " << i;
        }
    }

    EXPECT_EQ(electrodeTable(10).count, 0);
    EXPECT_EQ(electrodeRow(9, 259), &g_elctdT10[259]);
    EXPECT_EQ(electrodeRow(9, 260), nullptr);
}

TEST(GeometryElectrodeTables, GivenRowsAreExact) {
    // T2 in full; T1 shares its rows.
    struct Row {
        const wchar_t* name;
        double x, y, z;
    };
    const Row t2[] = {
        {L"FP1", 30, 70.84885, -104.70795},          {L"FP2", -30, 71.47003, -105.19913},
        {L"F3", 56.33652, 111.80359, -59.12506},     {L"F4", -53.79196, 115.24002, -59.14627},
        {L"F7", 72.69882, 56.2587, -55.7489},        {L"F8", -70.76645, 58.79044, -58.23456},
        {L"T3", 85.19843, 44.54773, -22.21771},      {L"T4", -83.14825, 44.76944, -22.4704},
        {L"T5", 80.19843, 44.54773, 22.21771},       {L"T6", -80.14825, 44.76944, 22.4704},
        {L"C3", 73.39218, 117.82791, 7.74994},       {L"C4", -69.77783, 120.59814, 11.16196},
        {L"P3", 58.04962, 90.87418, 70.72357},       {L"P4", -52.92053, 91.36627, 72.34375},
        {L"O1", 26.81717, 36.34674, 96.58279},       {L"O2", -26.47095, 38.18619, 96.38092},
        {L"A1", 90.92224, 0.8736, -33.5347},         {L"A2", -90.92224, 0.8736, -33.5347},
    };
    for (const Row& r : t2) {
        expectRow(1, r.name, r.x, r.y, r.z);
        if (find(0, r.name)) expectRow(0, r.name, r.x, r.y, r.z);
    }
    expectRow(4, L"Fp1", 95, 30.9, -3.49);
    expectRow(4, L"O2", -95, -30.9, -3.49);
    expectRow(7, L"Fpz", 99.3, 0, -11.4);
    expectRow(7, L"Nz", 87.4, 0, -48.5);
    expectRow(7, L"Cz", 0.157, 0, 100);
    expectRow(8, L"FidNz", 0, 10.3855, -1.81526);
    expectRow(8, L"E1", 4.82147, 8.46376, -0.06398);
    expectRow(9, L"FidNz", 0, 10.7078, -2.23364);
    expectRow(9, L"E256", -5.08583, 0.12101, -11.0429);
    expectRow(9, L"Cz", 0, 0, 8.95379);
}

TEST(GeometryElectrodeTables, FramesOfTheFilledRows) {
    // T1-T4, T6: left (odd) positive x, right (even) negative, frontal rows
    // negative z, the vertex highest.
    for (int t : {0, 1, 2, 3, 5}) {
        ELCTD_TABLE tab = electrodeTable(t);
        double highest = -1e9;
        std::wstring top;
        for (int i = 0; i < tab.count; ++i) {
            std::wstring n = tab.rows[i].name;
            wchar_t last = n.back();
            if (last >= L'0' && last <= L'9') {
                int num = last - L'0';
                if (num % 2) {
                    EXPECT_GT(tab.rows[i].x, 0) << n << " T" << t + 1;
                } else {
                    EXPECT_LT(tab.rows[i].x, 0) << n << " T" << t + 1;
                }
            }
            if (n[0] == L'F') {
                EXPECT_LT(tab.rows[i].z, 0) << n << " T" << t + 1;
            }
            if (tab.rows[i].y > highest) highest = tab.rows[i].y, top = n;
        }
        if (find(t, L"CZ")) {
            EXPECT_EQ(top, L"CZ") << "T" << t + 1;
        }
    }
    // T5, T7, T8: radius about 100, front positive x, left positive y, up z.
    for (int t : {4, 6, 7}) {
        ELCTD_TABLE tab = electrodeTable(t);
        for (int i = 0; i < tab.count; ++i) {
            const auto& r = tab.rows[i];
            EXPECT_NEAR(std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z), 100.0, 1.0) << r.name;
        }
        EXPECT_GT(find(t, L"Fp1")->x, 50);
        EXPECT_GT(find(t, L"Fp1")->y, 0);
        EXPECT_LT(find(t, L"O2")->x, -50);
        EXPECT_LT(find(t, L"O2")->y, 0);
        EXPECT_GT(find(t, L"Cz")->z, 99);
        EXPECT_GT(find(t, L"T7")->y, 90);
    }
    // T9, T10: the HydroCel frame, nose at +y, T9 side at -x.
    for (int t : {8, 9}) {
        ELCTD_TABLE tab = electrodeTable(t);
        for (int i = 0; i < tab.count; ++i) {
            EXPECT_LE(std::fabs(tab.rows[i].x), 11.5) << tab.rows[i].name;
            EXPECT_LE(std::fabs(tab.rows[i].y), 11.5) << tab.rows[i].name;
            EXPECT_LE(std::fabs(tab.rows[i].z), 11.5) << tab.rows[i].name;
        }
        EXPECT_LT(find(t, L"FidT9")->x, 0);
        EXPECT_GT(find(t, L"FidT10")->x, 0);
        EXPECT_GT(find(t, L"FidNz")->y, 9);
    }
}

TEST(GeometryElectrodeTables, SelectionByChannelCount) {
    const std::pair<int, int> cases[] = {{-5, 0}, {8, 0},  {9, 1},  {17, 2}, {19, 2}, {20, 3}, {21, 3},
                                         {22, 4}, {25, 5}, {33, 6}, {34, 7}, {48, 8}, {68, 9}};
    for (auto [n, t] : cases) EXPECT_EQ(electrodeTableFor(n), t) << n;
    // Every table serves the channel counts it is chosen for.
    for (int n = 1; n <= 260; ++n) EXPECT_GE(electrodeTable(electrodeTableFor(n)).count, n) << n;
}
