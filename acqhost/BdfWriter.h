// Writes BDF+ files through EDFlib one whole data record at a time, so the
// same writer serves a save at the end of a recording and a file that grows
// while recording.
//
// EDFlib leaves the header's record count at -1 until it closes the file and
// does not notice a failed write (it goes on counting records). So after each
// record this writer checks through a descriptor of its own that the file
// grew by exactly one record, then states the new count in the header: a
// process killed at any moment leaves a file that every reader opens, with
// at most the record being written missing. A write that fails (disk full,
// file size limit) makes the writer refuse further records; close() then cuts
// the file back to the records that were written whole and states their
// count, so what was written stays readable.
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
    // The EDF+ patient code (the subject) and the investigation's admin code
    // (the session); EDFlib writes "X" for what is empty.
    std::string patientCode;
    std::string adminCode;
};

class BdfWriter {
public:
    BdfWriter() = default;
    ~BdfWriter();  // closes a file still open
    BdfWriter(const BdfWriter&) = delete;
    BdfWriter& operator=(const BdfWriter&) = delete;

    // Creates the file, which must not exist yet (fileExisted() tells that
    // case apart). annotationSignals: slots per record for annotations (1 to
    // 64); EDFlib stores at most records x slots annotations.
    bool open(const std::string& path, const std::vector<BdfSignal>& signals, const BdfRecordLayout& layout,
              int annotationSignals, const BdfHeaderInfo& info);
    // One data record of physical values, signal after signal, each with
    // layout.samplesPerRecord values. Values out of range are clamped. On
    // return true the record is in the file and counted in its header.
    bool appendRecord(const double* physical);
    // Onset in seconds from the first sample; text as UTF-8 (EDFlib keeps 40
    // bytes). Written to the file when it is closed.
    bool addAnnotation(double onsetSeconds, const std::string& text);
    // Replaces the header's free recording text when the file is closed
    // (what is known only at the end, such as link statistics).
    void setRecordingAdditional(const std::string& text);
    // Closes the file, leaving it readable with the records written whole.
    // False when a write failed before or while closing.
    bool close();

    bool isOpen() const { return m_handle >= 0; }
    bool failed() const { return m_failed; }
    bool fileExisted() const { return m_existed; }
    std::int64_t recordsWritten() const { return m_records; }
    const std::string& lastError() const { return m_error; }
    const BdfRecordLayout& layout() const { return m_layout; }

    // The digital value a physical value is stored as (rounded, clamped).
    static int toDigital(const BdfSignal& s, double physical);

private:
    bool failWith(const std::string& what);
    // After a record: the file's size must be the header plus the records.
    bool confirmRecord(int writeErrno);
    bool learnSizes(std::int64_t fileSize);
    bool writeCount(std::int64_t records);
    void rewriteRecordingField();

    int m_handle = -1;
    int m_fd = -1;  // our own descriptor on the file EDFlib writes
    std::string m_path;
    bool m_failed = false;
    bool m_existed = false;
    std::int64_t m_headerBytes = 0;  // known after the first record
    std::int64_t m_recordBytes = 0;
    std::int64_t m_lastSyncUs = 0;
    std::string m_additional;
    bool m_additionalSet = false;
    std::vector<BdfSignal> m_signals;
    BdfRecordLayout m_layout;
    std::vector<int> m_digital;
    std::int64_t m_records = 0;
    std::string m_error;
};

}  // namespace acqhost
