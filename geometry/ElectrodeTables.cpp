#include "geometry/ElectrodeTables.h"

#include "geometry/ElectrodeTablesData.inc"

namespace {
constexpr ELCTD_TABLE kTables[ELCTD_TABLE_COUNT] = {
    {g_elctdT1, ELCTD_T1_ROWS}, {g_elctdT2, ELCTD_T2_ROWS}, {g_elctdT3, ELCTD_T3_ROWS}, {g_elctdT4, ELCTD_T4_ROWS},
    {g_elctdT5, ELCTD_T5_ROWS}, {g_elctdT6, ELCTD_T6_ROWS}, {g_elctdT7, ELCTD_T7_ROWS}, {g_elctdT8, ELCTD_T8_ROWS},
    {g_elctdT9, ELCTD_T9_ROWS}, {g_elctdT10, ELCTD_T10_ROWS},
};
// Largest channel count each of T1..T9 serves; T10 takes the rest.
constexpr int kMaxChannels[ELCTD_TABLE_COUNT - 1] = {8, 16, 19, 21, 24, 32, 33, 47, 67};
}  // namespace

ELCTD_TABLE electrodeTable(int index) {
    if (index < 0 || index >= ELCTD_TABLE_COUNT) return {nullptr, 0};
    return kTables[index];
}

const ELCTD_POS_NAME_PXYZ* electrodeRow(int index, int row) {
    ELCTD_TABLE t = electrodeTable(index);
    return row >= 0 && row < t.count ? &t.rows[row] : nullptr;
}

int electrodeTableFor(int channels) {
    for (int i = 0; i < ELCTD_TABLE_COUNT - 1; ++i)
        if (channels <= kMaxChannels[i]) return i;
    return ELCTD_TABLE_COUNT - 1;
}
