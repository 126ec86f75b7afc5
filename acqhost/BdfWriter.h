// Writes BDF+ files through EDFlib one whole data record at a time, so the
// same writer serves a save at the end of a recording and a file that grows
// while recording.
//
// Record layout (chooseBdfRecordLayout):
// - integer sample rate R with S samples per trial: a record holds the
//   largest divisor n of S with n <= R whose duration n/R is a whole number of
//   10 us (what the header can state exactly), so trials start on record
//   boundaries and full trials are never padded. If that gives records
//   shorter than 0.1 s (say S = 251 at 250 Hz), records are 1 s long instead.
// - other rates: the shortest whole number of seconds (up to 60) holding a
//   whole number of samples; failing that, 1 s records of round(R) samples
//   (the header rate is then approximate; the sidecar keeps the true one).
// - the end of the data that does not fill a record is padded by repeating
//   each channel's last value; the caller marks that with an annotation.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace acqhost {

struct BdfSignal {
    std::string label;  // at most 16 printable ASCII characters
    std::string unit;   // at most 8
    double physMin = -8388608;
    double physMax = 8388607;
    int digMin = -8388608;
    int digMax = 8388607;
    std::string transducer;
};

struct BdfRecordLayout {
    int samplesPerRecord = 0;
    int duration10us = 100000;  // record duration in units of 10 us
    bool exactRate = true;      // header rate equals the true rate
    double recordSeconds() const { return duration10us / 100000.0; }
    double headerRate() const { return samplesPerRecord / recordSeconds(); }
};

// samplesPerRecord 0 when the rate is not a positive finite number.
BdfRecordLayout chooseBdfRecordLayout(double sampleRate, std::int64_t samplesPerTrial);

// Labels a BDF header accepts: printable ASCII, at most 16 characters,
// unique (later duplicates get "-2", "-3", ... within the 16 characters).
std::vector<std::string> makeBdfLabels(const std::vector<std::string>& names);

// EDFlib keeps its open files in one global table: every use goes under this.
std::mutex& edflibMutex();
// An EDFlib error code in words.
std::string edfErrorText(int code);

struct BdfHeaderInfo {
    std::time_t start = 0;  // 0: EDFlib takes the time the file is opened
    std::string equipment;
    std::string recordingAdditional;
};

class BdfWriter {
public:
    BdfWriter() = default;
    ~BdfWriter();  // closes a file still open
    BdfWriter(const BdfWriter&) = delete;
    BdfWriter& operator=(const BdfWriter&) = delete;

    // annotationSignals: slots per record for annotations (1 to 64); EDFlib
    // stores at most records x slots annotations.
    bool open(const std::string& path, const std::vector<BdfSignal>& signals, const BdfRecordLayout& layout,
              int annotationSignals, const BdfHeaderInfo& info);
    // One data record of physical values, signal after signal, each with
    // layout.samplesPerRecord values. Values out of range are clamped.
    bool appendRecord(const double* physical);
    // Onset in seconds from the first sample; text as UTF-8 (EDFlib keeps 40
    // bytes). Written to the file when it is closed.
    bool addAnnotation(double onsetSeconds, const std::string& text);
    bool close();

    bool isOpen() const { return m_handle >= 0; }
    std::int64_t recordsWritten() const { return m_records; }
    const std::string& lastError() const { return m_error; }
    const BdfRecordLayout& layout() const { return m_layout; }

    // The digital value a physical value is stored as (rounded, clamped).
    static int toDigital(const BdfSignal& s, double physical);

private:
    bool failWith(const std::string& what);

    int m_handle = -1;
    std::vector<BdfSignal> m_signals;
    BdfRecordLayout m_layout;
    std::vector<int> m_digital;
    std::int64_t m_records = 0;
    std::string m_error;
};

}  // namespace acqhost
