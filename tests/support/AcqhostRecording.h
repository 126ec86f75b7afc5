// A recording with known samples for the save tests (two EEG channels of one
// board, the auxiliary channels of two, so names repeat), and a file reader.
#pragma once

#include <edflib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/AcqFramework.h"
#include "sim/Cyton.h"

namespace acqtest {

constexpr double kUvPerCount = sim::uvPerCount(24);
constexpr double kGPerCount = 0.000125;

// Channel order: FP1, FP2, AccLft, AccUp, AccFwd, Analog1, AccLft (board 2),
// Trigger, TimeStamp, Event, Response, Marker, Reserved.
enum Channel { FP1, FP2, ACC_LFT, ACC_UP, ACC_FWD, ANALOG1, ACC_LFT2, TRIGGER, TIMESTAMP, CHANNELS = 13 };

void buildChannels(CHardWareInfozq& info, ChnGeomList& list);
// What the library's callback does: a display range and unit on accelerometer channels.
int accDisplayCallback(CMeAcqTrialzq* trial);

// Values at running sample index g (EEG: both 24-bit extremes first).
std::int32_t eegCount(int channel, std::int64_t g);
std::int32_t accCount(int channel, std::int64_t g);
double valueAt(int channel, std::int64_t g);
// The count a file stores: the negative full scale is clipped by one.
inline std::int32_t storedCount(std::int32_t c) { return c < -8388607 ? -8388607 : c; }

// Fills trials up to lastTrial, that one with lastFill samples (< 0: all).
void fill(CMeAcqDatazq& data, int lastTrial, std::int64_t lastFill = -1);

// A file size limit while it lives, as a full disk: writes fail, no SIGXFSZ.
struct FileSizeLimit {
    rlimit old{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{bytes, old.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
    }
};

// A saved file read back through EDFlib's reader.
struct BdfReader {
    edf_hdr_struct hdr{};
    bool ok = false;
    explicit BdfReader(const std::filesystem::path& p) {
        ok = edfopen_file_readonly(p.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) == 0;
    }
    ~BdfReader() {
        if (ok) edfclose_file(hdr.handle);
    }
    std::vector<double> physical(int sig) { return read<double>(sig, edfread_physical_samples); }
    std::vector<int> digital(int sig) { return read<int>(sig, edfread_digital_samples); }
    template <class T>
    std::vector<T> read(int sig, int (*reader)(int, int, int, T*)) {
        std::vector<T> v(static_cast<size_t>(hdr.signalparam[sig].smp_in_file));
        edfrewind(hdr.handle, sig);
        EXPECT_EQ(reader(hdr.handle, sig, static_cast<int>(v.size()), v.data()), static_cast<int>(v.size()));
        return v;
    }
    std::vector<std::pair<double, std::string>> annotations() {
        std::vector<std::pair<double, std::string>> out;
        for (long long i = 0; i < hdr.annotations_in_file; ++i) {
            edf_annotation_struct a{};
            edf_get_annotation(hdr.handle, static_cast<int>(i), &a);
            out.emplace_back(static_cast<double>(a.onset) / 1e7, a.annotation);
        }
        return out;
    }
    double rate(int sig) const { return hdr.signalparam[sig].smp_in_datarecord * 1e7 / double(hdr.datarecord_duration); }
};

}  // namespace acqtest
