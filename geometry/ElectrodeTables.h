// The ten electrode position templates, T1 (fewest channels) to T10. Each is a
// constant array built at load and only read afterwards; rows are picked by
// index or a whole table is chosen by channel count. The row data is generated
// (scripts/gen_electrode_tables.py -> ElectrodeTables.cpp).
#pragma once

#include "common/ElectrodePos.h"

constexpr int ELCTD_T1_ROWS = 10;
constexpr int ELCTD_T2_ROWS = 18;
constexpr int ELCTD_T3_ROWS = 21;
constexpr int ELCTD_T4_ROWS = 21;
constexpr int ELCTD_T5_ROWS = 25;
constexpr int ELCTD_T6_ROWS = 32;
constexpr int ELCTD_T7_ROWS = 33;
constexpr int ELCTD_T8_ROWS = 47;
constexpr int ELCTD_T9_ROWS = 67;
constexpr int ELCTD_T10_ROWS = 260;
constexpr int ELCTD_TABLE_COUNT = 10;

// Electrode kinds and their codes.
constexpr int ELCTD_KIND_RECORDING = 2;
constexpr int ELCTD_KIND_REFERENCE = 1;
constexpr int ELCTD_CODE_RECORDING = 302;
constexpr int ELCTD_CODE_REFERENCE = 301;

extern const ELCTD_POS_NAME_PXYZ g_elctdT1[ELCTD_T1_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT2[ELCTD_T2_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT3[ELCTD_T3_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT4[ELCTD_T4_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT5[ELCTD_T5_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT6[ELCTD_T6_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT7[ELCTD_T7_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT8[ELCTD_T8_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT9[ELCTD_T9_ROWS];
extern const ELCTD_POS_NAME_PXYZ g_elctdT10[ELCTD_T10_ROWS];

struct ELCTD_TABLE {
    const ELCTD_POS_NAME_PXYZ* rows;
    int count;
};

// Table `index` 0..9 (T1..T10); {nullptr, 0} outside that range.
ELCTD_TABLE electrodeTable(int index);
// Row `row` of table `index`; null outside the table.
const ELCTD_POS_NAME_PXYZ* electrodeRow(int index, int row);
// Index 0..9 of the first template that fits `channels` EEG channels.
int electrodeTableFor(int channels);
