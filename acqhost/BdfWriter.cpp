#include "acqhost/BdfWriter.h"

#include <edflib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

namespace acqhost {

namespace {

constexpr int kUnits10usPerSecond = 100000;
// EDFlib keeps this many bytes of an annotation text when writing.
constexpr size_t kMaxAnnotationBytes = 40;

std::string printableAscii(const std::string& s, size_t maxLen) {
    std::string out;
    for (unsigned char c : s) out += (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '_';
    size_t b = out.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    out = out.substr(b, out.find_last_not_of(' ') - b + 1);
    if (out.size() > maxLen) out.resize(maxLen);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// Header fields this writer reads or rewrites in place.
constexpr off_t kHeaderBytesAt = 184;
constexpr off_t kRecordCountAt = 236;
constexpr off_t kSignalCountAt = 252;
constexpr off_t kRecordingAt = 88;
constexpr size_t kRecordingLen = 80;
constexpr off_t kMainHeader = 256;
// The signals' sample counts follow 216 bytes per signal of other fields.
constexpr off_t kSamplesField = 216;
// A record is synced to the device at most this often (real time: a bound on
// the cost, not a wait), and always when the file is closed.
constexpr std::int64_t kSyncEveryUs = 1000000;

std::int64_t steadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string writeErrorText(int e) {
    if (e == 0) return edfErrorText(EDFLIB_FILE_WRITE_ERROR);
    return std::string("writing the file failed: ") + std::strerror(e);
}

bool readField(int fd, off_t at, size_t len, long long& value) {
    char buf[16] = {};
    if (len >= sizeof buf || ::pread(fd, buf, len, at) != static_cast<ssize_t>(len)) return false;
    char* end = nullptr;
    value = std::strtoll(buf, &end, 10);
    return end != buf;
}

// Cuts UTF-8 text to at most n bytes without splitting a character.
std::string utf8Prefix(const std::string& s, size_t n) {
    if (s.size() <= n) return s;
    size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

}  // namespace

BdfRecordLayout chooseBdfRecordLayout(double rate, std::int64_t samplesPerTrial) {
    BdfRecordLayout l;
    if (!std::isfinite(rate) || rate <= 0 || rate > 1e7) return l;
    double rounded = std::round(rate);
    if (rounded >= 1 && std::fabs(rate - rounded) < 1e-9 * rounded) {
        auto r = static_cast<std::int64_t>(rounded);
        std::int64_t best = 0;
        std::int64_t top = std::min<std::int64_t>(r, samplesPerTrial);
        for (std::int64_t n = top; n >= 1 && best == 0; --n) {
            if (samplesPerTrial % n == 0 && (n * kUnits10usPerSecond) % r == 0) best = n;
        }
        if (best > 0 && best * 10 >= r) {
            l.samplesPerRecord = static_cast<int>(best);
            l.duration10us = static_cast<int>(best * kUnits10usPerSecond / r);
        } else {
            l.samplesPerRecord = static_cast<int>(r);
            l.duration10us = kUnits10usPerSecond;
        }
        return l;
    }
    for (int k = 1; k <= 60; ++k) {
        double n = rate * k;
        if (n >= 1 && std::fabs(n - std::round(n)) < 1e-6) {
            l.samplesPerRecord = static_cast<int>(std::round(n));
            l.duration10us = k * kUnits10usPerSecond;
            return l;
        }
    }
    l.samplesPerRecord = std::max(1, static_cast<int>(std::lround(rate)));
    l.duration10us = kUnits10usPerSecond;
    l.exactRate = false;
    return l;
}

std::vector<std::string> makeBdfLabels(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    std::set<std::string> used;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string base = printableAscii(names[i], 16);
        if (base.empty()) base = "Ch" + std::to_string(i + 1);
        std::string label = base;
        for (int k = 2; used.count(label); ++k) {
            std::string suffix = "-" + std::to_string(k);
            label = base.substr(0, 16 - suffix.size()) + suffix;
        }
        used.insert(label);
        out.push_back(label);
    }
    return out;
}

std::mutex& edflibMutex() {
    static std::mutex m;
    return m;
}

std::string edfErrorText(int code) {
    switch (code) {
        case EDFLIB_MALLOC_ERROR: return "out of memory";
        case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
            return "the file cannot be created or opened (folder missing or not writable)";
        case EDFLIB_FILE_CONTAINS_FORMAT_ERRORS: return "the file is not a complete BDF/EDF file";
        case EDFLIB_MAXFILES_REACHED: return "too many BDF/EDF files are open at once";
        case EDFLIB_FILE_READ_ERROR: return "the file cannot be read";
        case EDFLIB_FILE_ALREADY_OPENED: return "the file is already open";
        case EDFLIB_FILETYPE_ERROR: return "the file type is not BDF+/EDF+";
        case EDFLIB_FILE_WRITE_ERROR: return "writing the file failed (disk full?)";
        case EDFLIB_NUMBER_OF_SIGNALS_INVALID: return "the number of channels is not one EDFlib can write";
        case EDFLIB_FILE_IS_DISCONTINUOUS: return "the file is discontinuous";
        case EDFLIB_INVALID_READ_ANNOTS_VALUE: return "invalid annotation reading mode";
        case EDFLIB_ARCH_ERROR: return "EDFlib does not support this machine";
        case EDFLIB_NO_SIGNALS: return "there are no channels to write";
        case EDFLIB_TOO_MANY_SIGNALS: return "there are too many channels";
        case EDFLIB_NO_SAMPLES_IN_RECORD: return "a channel has no samples in a data record";
        case EDFLIB_DIGMIN_IS_DIGMAX: return "a channel's digital minimum equals its maximum";
        case EDFLIB_DIGMAX_LOWER_THAN_DIGMIN: return "a channel's digital maximum is below its minimum";
        case EDFLIB_PHYSMIN_IS_PHYSMAX: return "a channel's physical minimum equals its maximum";
        case EDFLIB_DATARECORD_SIZE_TOO_BIG: return "a data record would exceed the 15 MB BDF limit";
        default: return "EDFlib error " + std::to_string(code);
    }
}

BdfWriter::~BdfWriter() { close(); }

bool BdfWriter::failWith(const std::string& what) {
    m_error = what;
    return false;
}

int BdfWriter::toDigital(const BdfSignal& s, double physical) {
    if (!std::isfinite(physical)) physical = 0;
    double span = s.physMax - s.physMin;
    double d = span != 0 ? (physical - s.physMin) * (static_cast<double>(s.digMax) - s.digMin) / span + s.digMin
                         : s.digMin;
    if (!(d > s.digMin)) return s.digMin;
    if (d >= s.digMax) return s.digMax;
    return static_cast<int>(std::llround(d));
}

bool BdfWriter::open(const std::string& path, const std::vector<BdfSignal>& signals, const BdfRecordLayout& layout,
                     int annotationSignals, const BdfHeaderInfo& info) {
    if (isOpen()) {
        m_error = "a file is already open";
        return false;
    }
    m_error.clear();
    m_records = 0;
    m_failed = false;
    m_existed = false;
    m_headerBytes = m_recordBytes = 0;
    m_lastSyncUs = 0;
    m_additional.clear();
    m_additionalSet = false;
    if (signals.empty()) return failWith(edfErrorText(EDFLIB_NO_SIGNALS));
    if (signals.size() > EDFLIB_MAXSIGNALS - 64) return failWith(edfErrorText(EDFLIB_TOO_MANY_SIGNALS));
    if (layout.samplesPerRecord < 1) return failWith("the sample rate gives no valid data record");
    double recordBytes = 3.0 * layout.samplesPerRecord * static_cast<double>(signals.size());
    if (recordBytes > 15e6) return failWith(edfErrorText(EDFLIB_DATARECORD_SIZE_TOO_BIG));
    for (const auto& s : signals) {
        if (s.physMax == s.physMin) return failWith(edfErrorText(EDFLIB_PHYSMIN_IS_PHYSMAX) + ": " + s.label);
        if (s.digMax <= s.digMin) return failWith(edfErrorText(EDFLIB_DIGMAX_LOWER_THAN_DIGMIN) + ": " + s.label);
    }

    // Made here, not by EDFlib (which would replace a file already there),
    // and kept open to watch the file grow.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        int e = errno;
        m_existed = e == EEXIST;
        m_error = m_existed ? std::string("the file exists already")
                            : std::string("the file cannot be created: ") + std::strerror(e);
        return false;
    }
    auto discard = [&] {
        ::close(fd);
        ::unlink(path.c_str());
    };
    std::lock_guard<std::mutex> lock(edflibMutex());
    int h = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_BDFPLUS, static_cast<int>(signals.size()));
    if (h < 0) {
        m_error = edfErrorText(h);
        discard();
        return false;
    }
    bool ok = true;
    for (size_t i = 0; i < signals.size() && ok; ++i) {
        const BdfSignal& s = signals[i];
        int sig = static_cast<int>(i);
        ok = edf_set_samplefrequency(h, sig, layout.samplesPerRecord) == 0 &&
             edf_set_physical_maximum(h, sig, s.physMax) == 0 && edf_set_physical_minimum(h, sig, s.physMin) == 0 &&
             edf_set_digital_maximum(h, sig, s.digMax) == 0 && edf_set_digital_minimum(h, sig, s.digMin) == 0 &&
             edf_set_label(h, sig, printableAscii(s.label, 16).c_str()) == 0 &&
             edf_set_physical_dimension(h, sig, printableAscii(s.unit, 8).c_str()) == 0 &&
             edf_set_transducer(h, sig, printableAscii(s.transducer, 80).c_str()) == 0;
        if (!ok) m_error = "EDFlib refused the settings of channel " + s.label;
    }
    if (ok && layout.duration10us != kUnits10usPerSecond && edf_set_datarecord_duration(h, layout.duration10us) != 0) {
        ok = false;
        m_error = "EDFlib refused a data record of " + std::to_string(layout.recordSeconds()) + " s";
    }
    if (ok) edf_set_number_of_annotation_signals(h, std::clamp(annotationSignals, 1, 64));
    if (ok && info.start != 0) {
        std::tm tm{};
        if (localtime_r(&info.start, &tm))
            edf_set_startdatetime(h, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    }
    if (ok && !info.equipment.empty()) edf_set_equipment(h, printableAscii(info.equipment, 80).c_str());
    // EDF+ fields are words: a space inside one would split it.
    auto word = [](std::string t) {
        for (char& c : t)
            if (c == ' ') c = '_';
        return printableAscii(t, 80);
    };
    if (ok && !info.patientCode.empty()) edf_set_patientcode(h, word(info.patientCode).c_str());
    if (ok && !info.adminCode.empty()) edf_set_admincode(h, word(info.adminCode).c_str());
    if (ok && !info.recordingAdditional.empty())
        edf_set_recording_additional(h, printableAscii(info.recordingAdditional, 80).c_str());
    if (!ok) {
        edfclose_file(h);
        discard();
        return false;
    }
    m_handle = h;
    m_fd = fd;
    m_path = path;
    m_signals = signals;
    m_layout = layout;
    m_digital.assign(signals.size() * static_cast<size_t>(layout.samplesPerRecord), 0);
    return true;
}

bool BdfWriter::appendRecord(const double* physical) {
    if (!isOpen()) {
        m_error = "no file is open";
        return false;
    }
    if (m_failed) return false;  // m_error says why
    const size_t n = static_cast<size_t>(m_layout.samplesPerRecord);
    for (size_t s = 0; s < m_signals.size(); ++s)
        for (size_t i = 0; i < n; ++i) m_digital[s * n + i] = toDigital(m_signals[s], physical[s * n + i]);
    {
        std::lock_guard<std::mutex> lock(edflibMutex());
        errno = 0;
        int rc = edf_blockwrite_digital_samples(m_handle, m_digital.data());
        int e = errno;
        if (rc != 0) {
            m_failed = true;
            m_error = rc < -1 ? edfErrorText(rc) : writeErrorText(e);
            return false;
        }
        if (!confirmRecord(e)) return false;
        ++m_records;
        if (!writeCount(m_records)) return false;
    }
    const std::int64_t now = steadyUs();
    if (now - m_lastSyncUs >= kSyncEveryUs) {
        m_lastSyncUs = now;
        if (::fdatasync(m_fd) != 0) {
            m_failed = true;
            m_error = writeErrorText(errno);
            return false;
        }
    }
    return true;
}

bool BdfWriter::learnSizes(std::int64_t fileSize) {
    long long headerBytes = 0, signals = 0;
    if (fileSize < kMainHeader || !readField(m_fd, kHeaderBytesAt, 8, headerBytes) ||
        !readField(m_fd, kSignalCountAt, 4, signals) || signals < 1 || headerBytes != kMainHeader * (signals + 1) ||
        fileSize < headerBytes)
        return false;
    long long samples = 0;
    for (long long i = 0; i < signals; ++i) {
        long long v = 0;
        if (!readField(m_fd, static_cast<off_t>(kMainHeader + signals * kSamplesField + i * 8), 8, v) || v < 1)
            return false;
        samples += v;
    }
    m_headerBytes = headerBytes;
    m_recordBytes = 3 * samples;
    return true;
}

bool BdfWriter::confirmRecord(int writeErrno) {
    auto size = [this]() -> std::int64_t {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    };
    auto expected = [this] { return m_headerBytes + (m_records + 1) * m_recordBytes; };
    std::int64_t now = size();
    // EDFlib passes each record on at once; should a build of it buffer
    // instead, the size check must not take that for a failed write.
    if (m_headerBytes == 0 || now < expected()) {
        std::fflush(nullptr);
        now = size();
    }
    if (m_headerBytes == 0 && !learnSizes(now)) {
        m_failed = true;
        m_error = writeErrno ? writeErrorText(writeErrno) : std::string("the file header could not be written");
        return false;
    }
    if (now != expected()) {
        m_failed = true;
        m_error = writeErrorText(writeErrno);
        return false;
    }
    return true;
}

bool BdfWriter::writeCount(std::int64_t records) {
    char field[16];
    std::snprintf(field, sizeof field, "%-8lld", static_cast<long long>(records));
    if (::pwrite(m_fd, field, 8, kRecordCountAt) != 8) {
        m_failed = true;
        m_error = writeErrorText(errno);
        return false;
    }
    return true;
}

void BdfWriter::setRecordingAdditional(const std::string& text) {
    m_additional = printableAscii(text, kRecordingLen);
    m_additionalSet = true;
}

// EDFlib writes the field as "Startdate <date> <admin> <technician>
// <equipment> <additional>"; the part after the fifth word is replaced.
void BdfWriter::rewriteRecordingField() {
    char buf[kRecordingLen + 1] = {};
    if (::pread(m_fd, buf, kRecordingLen, kRecordingAt) != static_cast<ssize_t>(kRecordingLen)) return;
    std::string field(buf, kRecordingLen);
    if (field.rfind("Startdate ", 0) != 0) return;
    size_t pos = 0;
    for (int word = 0; word < 5 && pos != std::string::npos; ++word) {
        pos = field.find_first_not_of(' ', pos);
        if (pos != std::string::npos) pos = field.find(' ', pos);
    }
    if (pos == std::string::npos) return;
    std::string out = field.substr(0, pos);
    if (!m_additional.empty()) out += " " + m_additional;
    out.resize(kRecordingLen, ' ');
    if (::pwrite(m_fd, out.data(), kRecordingLen, kRecordingAt) != static_cast<ssize_t>(kRecordingLen)) {
        m_failed = true;
        m_error = writeErrorText(errno);
    }
}

bool BdfWriter::addAnnotation(double onsetSeconds, const std::string& text) {
    if (!isOpen()) return failWith("no file is open");
    if (!std::isfinite(onsetSeconds) || onsetSeconds < 0) onsetSeconds = 0;
    std::lock_guard<std::mutex> lock(edflibMutex());
    if (edfwrite_annotation_utf8(m_handle, std::llround(onsetSeconds * 10000.0), -1,
                                 utf8Prefix(text, kMaxAnnotationBytes).c_str()) != 0) {
        m_error = "EDFlib refused the annotation \"" + text + "\"";
        return false;
    }
    return true;
}

bool BdfWriter::close() {
    if (!isOpen()) return true;
    int rc;
    {
        std::lock_guard<std::mutex> lock(edflibMutex());
        rc = edfclose_file(m_handle);
    }
    m_handle = -1;
    if (rc != 0 && !m_failed) {
        m_failed = true;
        m_error = "closing the file failed: " + edfErrorText(EDFLIB_FILE_WRITE_ERROR);
    }
    if (m_fd >= 0) {
        if (m_headerBytes > 0) {
            // EDFlib counts records whose write failed and may have left a
            // piece of one: back to the records confirmed whole.
            const std::int64_t whole = m_headerBytes + m_records * m_recordBytes;
            const bool wasFailed = m_failed;
            const std::string why = m_error;
            struct stat st {};
            if ((::fstat(m_fd, &st) != 0 || st.st_size != whole) && ::ftruncate(m_fd, whole) != 0) {
                m_failed = true;
                m_error = writeErrorText(errno);
            }
            writeCount(m_records);
            if (m_additionalSet) rewriteRecordingField();
            if (wasFailed) m_error = why;  // the first failure is the one to tell
        }
        if (::fdatasync(m_fd) != 0 && !m_failed) {
            m_failed = true;
            m_error = writeErrorText(errno);
        }
        ::close(m_fd);
        m_fd = -1;
    }
    return !m_failed;
}

}  // namespace acqhost
