#include "common/OptionTables.h"

const char* const g_inputTypeNames[INPUT_TYPE_ROWS] = {
    "Normal", "Shorted", "BIAS Meas", "MVDD", "Temp", "Test Signals", "BIAS DRP", "BIAS DRN",
};

const char* const g_testSignalNames[TEST_SIGNAL_ROWS] = {
    "To inter GND(VDD-VSS)", "1xAmp slow pulse", "1xAmp fast pulse",
    "DC signal",             "2xAmp slow pulse", "2xAmp fast pulse",
};
const char g_testSignalCmds[TEST_SIGNAL_ROWS + 1] = "0-=p[]";

const SAMPLE_RATE_ROW g_sampleRateRows[SAMPLE_RATE_ROWS] = {
    {L"250 Hz", 250.0, "~6"},   {L"500 Hz", 500.0, "~5"},   {L"1000 Hz", 1000.0, "~4"},
    {L"2000 Hz", 2000.0, "~3"}, {L"4000 Hz", 4000.0, "~2"}, {L"8000 Hz", 8000.0, "~1"},
    {L"16000 Hz", 16000.0, "~0"},
};
const SAMPLE_RATE_ROW g_sampleRateQuery250 = {L"250 Hz", 250.0, "~~"};
const SAMPLE_RATE_ROW g_sampleRateQuery125 = {L"125 Hz", 125.0, "~~"};

const DONGLE_BAUD_ROW g_dongleBaudRows[DONGLE_BAUD_ROWS] = {
    {0, 115200, 0x05, L"115200 Default"},
    {1, 230400, 0x06, L"230400 High-Speed"},
    {2, 921600, 0x0A, L"921600 Hyper-Speed"},
};

const SDCARD_LOG_ROW g_sdCardLogRows[SDCARD_LOG_ROWS] = {
    {0, "Do not write to SD...", ""}, {1, "5 minute maximum", "A"}, {2, "15 minute maximum", "S"},
    {3, "30 minute maximum", "F"},    {4, "1 hour maximum", "G"},   {5, "2 hour maximum", "H"},
    {6, "4 hour maximum", "J"},       {7, "12 hour maximum", "K"},  {8, "24 hour maximum", "L"},
};
const SDCARD_LOG_ROW g_sdCardStopRow = {-1, "Stop Logging and Close SD File", "j"};

const double g_accelScale = 0.002 / (1 << 4);

namespace {
bool inRange(int row, int rows) { return row >= 0 && row < rows; }
}  // namespace

const char* inputTypeName(int row) { return inRange(row, INPUT_TYPE_ROWS) ? g_inputTypeNames[row] : nullptr; }
const char* testSignalName(int row) { return inRange(row, TEST_SIGNAL_ROWS) ? g_testSignalNames[row] : nullptr; }
char testSignalCmd(int row) { return inRange(row, TEST_SIGNAL_ROWS) ? g_testSignalCmds[row] : '\0'; }
const SAMPLE_RATE_ROW* sampleRateRow(int row) {
    return inRange(row, SAMPLE_RATE_ROWS) ? &g_sampleRateRows[row] : nullptr;
}
const DONGLE_BAUD_ROW* dongleBaudRow(int row) {
    return inRange(row, DONGLE_BAUD_ROWS) ? &g_dongleBaudRows[row] : nullptr;
}
const SDCARD_LOG_ROW* sdCardLogRow(int row) { return inRange(row, SDCARD_LOG_ROWS) ? &g_sdCardLogRows[row] : nullptr; }
