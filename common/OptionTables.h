// The constant option tables of the board and the dongle: channel input types,
// test signals, sample rates, dongle-to-PC baud rates, SD-card logging, and the
// accelerometer scale. Built at load, only read afterwards, by row index.
#pragma once

#include <cstdint>

// ---- channel input types; the index is the input code of a settings frame
constexpr int INPUT_TYPE_ROWS = 8;
extern const char* const g_inputTypeNames[INPUT_TYPE_ROWS];
const char* inputTypeName(int row);  // null outside 0..7

// ---- test signals and the board command character of each
constexpr int TEST_SIGNAL_ROWS = 6;
extern const char* const g_testSignalNames[TEST_SIGNAL_ROWS];
extern const char g_testSignalCmds[TEST_SIGNAL_ROWS + 1];  // "0-=p[]"
const char* testSignalName(int row);  // null outside 0..5
char testSignalCmd(int row);          // '\0' outside 0..5

// ---- board sample rates
struct SAMPLE_RATE_ROW {
    const wchar_t* label;
    double rate;  // Hz
    const char* command;
};
constexpr int SAMPLE_RATE_ROWS = 7;
extern const SAMPLE_RATE_ROW g_sampleRateRows[SAMPLE_RATE_ROWS];
// Single rows carrying "~~", which asks the board for its rate and sets nothing.
extern const SAMPLE_RATE_ROW g_sampleRateQuery250;
extern const SAMPLE_RATE_ROW g_sampleRateQuery125;
const SAMPLE_RATE_ROW* sampleRateRow(int row);  // null outside 0..6

// ---- dongle-to-PC baud rates
struct DONGLE_BAUD_ROW {
    std::int32_t index;
    std::uint32_t baud;
    std::uint8_t radioCode;  // the byte the dongle's baud command carries
    const wchar_t* label;
};
constexpr int DONGLE_BAUD_ROWS = 3;
extern const DONGLE_BAUD_ROW g_dongleBaudRows[DONGLE_BAUD_ROWS];
const DONGLE_BAUD_ROW* dongleBaudRow(int row);  // null outside 0..2

// ---- SD-card logging durations
struct SDCARD_LOG_ROW {
    std::int32_t index;
    const char* label;
    const char* command;  // empty: nothing is sent
};
constexpr int SDCARD_LOG_ROWS = 9;
extern const SDCARD_LOG_ROW g_sdCardLogRows[SDCARD_LOG_ROWS];
extern const SDCARD_LOG_ROW g_sdCardStopRow;  // index -1, "j"
const SDCARD_LOG_ROW* sdCardLogRow(int row);  // null outside 0..8

// ---- g per count of the board's accelerometer: 0.002 / 2^4
extern const double g_accelScale;
