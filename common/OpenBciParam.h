// The settings of one EEG channel, hung on its channel-geometry record.
#pragma once

#include <cstdint>

#include "platform/afxstr.h"

struct OPENBCIPARAMV1 {
    std::int32_t reserved = 0;
    std::int32_t powerDown = 0;   // non-zero: the channel is powered down
    std::int32_t gain = 6;        // a gain value: 1, 2, 4, 6, 8, 12 or 24
    std::int32_t inputTypeCode = 0;
    CStringA inputTypeText = "Normal";
    std::int32_t includeBias = 1;
    std::int32_t srb2 = 1;
    std::int32_t srb1 = 0;
    double latency = 0.0;
    std::int32_t impedanceWord = 0;
    std::int32_t impedanceFlag1 = 1;
    std::int32_t impedanceFlag2 = 0;
    CStringA readOut;
    std::int32_t listRow = 0;
    std::int64_t reserved2 = 0;
};

// Block kind under which the record hangs on a geometry record.
constexpr int OPENBCIPARAM_BLOCK_KIND = 2;
