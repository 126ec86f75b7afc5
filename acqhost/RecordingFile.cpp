// The file of one recording: where it goes, how each trial channel is
// stored, the records appended while recording and the finish.
#include "acqhost/RecordingFile.h"

#include "acqhost/ChannelLabels.h"

#include <edflib.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace fs = std::filesystem;

namespace acqhost {

namespace {

constexpr int kDig24Min = -8388608;
constexpr int kDig24Max = 8388607;
// Annotation slots per record: EDFlib keeps at most records x slots notes;
// the sidecar has them all.
constexpr std::int64_t kMaxSlots = 64;

std::string utf8(const CString& s) { return platform::narrow(s.str()); }
CString wide(const std::string& s) { return CString(platform::widen(s)); }

std::string secondsText(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", s);
    return buf;
}

bool validRange(double lo, double hi) { return std::isfinite(lo) && std::isfinite(hi) && hi > lo; }

// How one trial channel goes into the file; durationMs is the longest the
// recording can get (it sets the time channel's step).
BdfSignal signalFor(const CMeAcgChannelzq& c, double durationMs) {
    BdfSignal s;
    s.digMin = kDig24Min;
    s.digMax = kDig24Max;
    switch (c.m_kind) {
        case GEOM_KIND_EEG:
            // +-8388607 counts <-> +-4500000/gain uV: a scale of exactly one
            // count per step, with both limits whole numbers that the
            // header's 8 characters hold. The count -8388608 (negative full
            // scale) is stored clipped to -8388607. The upper end of the
            // channel's range carries the gain.
            s.unit = "uV";
            s.digMin = -kDig24Max;
            s.physMax = validRange(c.m_rangeMin, c.m_rangeMax) && c.m_rangeMax > 0 ? c.m_rangeMax
                                                                                    : 4.5e6 / 24;  // gain 24
            s.physMin = -s.physMax;
            break;
        case GEOM_KIND_ACCEL:
            // The board's 16-bit counts of 0.000125 g, whatever display
            // range the channel was given.
            s.unit = "g";
            s.physMin = -4.096;
            s.physMax = 4.095875;
            s.digMin = -32768;
            s.digMax = 32767;
            break;
        case GEOM_KIND_TIMESTAMP: {
            // Whole milliseconds from the first sample; a recording longer
            // than 4.6 h gets a coarser step (the header holds 8 digits).
            s.unit = "ms";
            double step = std::clamp(std::ceil(durationMs * 1.2 / 16777215.0), 1.0, 5.0);
            s.physMin = 0;
            s.physMax = 16777215.0 * step;
            break;
        }
        case GEOM_KIND_TRIGGER:
        case GEOM_KIND_TRAILER:
            break;  // codes, one to one
        case GEOM_KIND_ANALOG:
            s.unit = "counts";
            if (validRange(c.m_rangeMin, c.m_rangeMax)) {
                s.physMin = c.m_rangeMin;
                s.physMax = c.m_rangeMax;
            }
            break;
        default:
            s.unit = utf8(c.m_unit);
            if (validRange(c.m_rangeMin, c.m_rangeMax)) {
                s.physMin = c.m_rangeMin;
                s.physMax = c.m_rangeMax;
            }
            break;
    }
    return s;
}

const char* kindName(int kind) {
    switch (kind) {
        case GEOM_KIND_EEG: return "EEG";
        case GEOM_KIND_ACCEL: return "Accelerometer";
        case GEOM_KIND_ANALOG: return "Analog";
        case GEOM_KIND_TRIGGER: return "Trigger";
        case GEOM_KIND_TIMESTAMP: return "TimeStamp";
        case GEOM_KIND_TRAILER: return "Trailer";
        default: return "Unknown";
    }
}

std::string isoTime(std::time_t t) {
    std::tm tm{};
    char buf[32] = "";
    if (localtime_r(&t, &tm)) std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// Reads the header of the finished file back; EDFlib rejects a file whose
// size does not match its header.
std::string checkWrittenFile(const std::string& path, int signals, std::int64_t records) {
    std::lock_guard<std::mutex> lock(edflibMutex());
    edf_hdr_struct hdr{};
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0)
        return edfErrorText(hdr.filetype);
    edfclose_file(hdr.handle);
    if (hdr.filetype != EDFLIB_FILETYPE_BDFPLUS || hdr.edfsignals != signals || hdr.datarecords_in_file != records)
        return "the file read back does not match what was written";
    return {};
}

// Renames, replacing `to` only when asked; an existing `to` is reported as
// EEXIST. File systems without an atomic no-replace rename get link+unlink.
bool putInPlace(const fs::path& from, const fs::path& to, bool replace, std::string& error) {
    if (replace) {
        std::error_code ec;
        fs::rename(from, to, ec);
        if (ec) error = ec.message();
        return !ec;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    int e = errno;
    if (e == EINVAL || e == ENOSYS || e == ENOTSUP) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
        e = errno;
    }
    error = e == EEXIST ? std::string("a file of that name appeared meanwhile") : std::strerror(e);
    return false;
}

// Rows delivered, and the count at which the waiting writers want waking:
// one wake per data record instead of one per row.
struct RowSignal {
    std::atomic<std::uint64_t> rows{0};
    std::atomic<std::uint64_t> wakeAt{UINT64_MAX};
    std::mutex mutex;
    std::condition_variable cv;

    void delivered() {
        if (rows.fetch_add(1) + 1 >= wakeAt.load()) wakeAll();
    }
    void wakeAll() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            wakeAt = UINT64_MAX;
        }
        cv.notify_all();
    }
    // Blocks until `target` rows have come or stop is set. Woken by rows,
    // not by a timer, so it moves no clock (a test's virtual one included).
    void waitFor(std::uint64_t target, const std::atomic<bool>& stop) {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stop.load() && rows.load() < target) {
            std::uint64_t cur = wakeAt.load();
            while (target < cur && !wakeAt.compare_exchange_weak(cur, target)) {
            }
            // A row counted before wakeAt was lowered did not wake anyone.
            if (rows.load() >= target) break;
            cv.wait(lock);
        }
    }
};

RowSignal& rowSignal() {
    static RowSignal* s = new RowSignal;  // outlives every writer thread
    return *s;
}

}  // namespace

void rowDelivered() { rowSignal().delivered(); }
void wakeRecordingFiles() { rowSignal().wakeAll(); }

RecordingFile::RecordingFile(CMeAcqData09File& data, FailureHandler onFailure)
    : m_data(data), m_onFailure(std::move(onFailure)) {}

RecordingFile::~RecordingFile() {
    stopFollowing();
    if (!m_opened || m_done || !m_writer.isOpen()) return;
    // Never finished (no save came): the file stays under its own name.
    writeNotes(notesFor(m_written, 0, false));
    m_writer.close();
    const std::string live = m_livePath.string();
    if (m_writer.recordsWritten() == 0) {
        ::unlink(live.c_str());
        return;
    }
    CAcqDriver02Prcs::addInfoStatus(wide("Recording: " + live + " was not finished; it holds the first " +
                                         secondsText(static_cast<double>(m_written) / m_rate) + " s"));
}

void RecordingFile::follow() {
    if (m_thread.joinable()) return;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void RecordingFile::stopFollowing() {
    if (!m_thread.joinable()) return;
    m_stop = true;
    rowSignal().wakeAll();
    m_thread.join();
}

void RecordingFile::run() {
    while (!m_stop.load()) {
        const std::uint64_t mark = rowSignal().rows.load();
        if (!writeCompleted()) {
            if (m_onFailure) m_onFailure(error());
            return;
        }
        rowSignal().waitFor(mark + static_cast<std::uint64_t>(rowsToNextRecord()), m_stop);
    }
}

std::string RecordingFile::error() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}
std::string RecordingFile::livePath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live;
}
std::string RecordingFile::partialPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_partial;
}
std::string RecordingFile::savedPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_saved;
}

bool RecordingFile::fail(const std::string& why) {
    std::string where = m_target.empty() ? std::string("(no file)") : m_target.string();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error = where + ": " + why;
    m_failed = true;
    return false;
}

bool RecordingFile::resolveTarget() {
    m_target.clear();
    CString nameText = m_data.m_recordName;
    nameText.Trim();
    if (nameText.IsEmpty()) return fail("no file name was given for the recording");
    CString folderText = m_data.m_recordFolder;
    folderText.Trim();
    m_target = folderText.IsEmpty() ? fs::path(utf8(nameText)) : fs::path(utf8(folderText)) / utf8(nameText);
    if (!m_target.has_filename()) return fail("the file name is missing");
    if (!m_target.has_extension()) m_target += ".bdf";
    m_folder = m_target.parent_path().empty() ? fs::path(".") : m_target.parent_path();
    std::error_code ec;
    auto st = fs::status(m_folder, ec);
    if (!fs::exists(st)) return fail("the folder does not exist");
    if (!fs::is_directory(st)) return fail("the folder is not a folder");
    if (::access(m_folder.c_str(), W_OK | X_OK) != 0) return fail("the folder is not writable");
    m_sidecar = m_target;
    m_sidecar.replace_extension(".json");
    return true;
}

bool RecordingFile::prepare() {
    CMeAcqTrialzq* first = m_data.peekTrial(0);
    if (!first) return fail("the data set has no trials");
    m_trials = m_data.m_trialCount;
    CMEGRecordInfozq* ri = m_data.getMEGRecordInfozq();
    m_rate = ri->m_sampleRate > 0 ? ri->m_sampleRate : ri->m_sampleRate2;
    m_S = first->getTotalSample(-1);
    m_layout = chooseBdfRecordLayout(m_rate, m_S);
    if (m_layout.samplesPerRecord < 1) return fail("the sample rate " + std::to_string(m_rate) + " Hz is not valid");
    m_channels = first->getTotalChannel();
    const double plannedMs = static_cast<double>(m_trials) * static_cast<double>(m_S) / m_rate * 1000.0;
    m_signals.clear();
    m_names.clear();
    m_described.clear();
    m_typed.clear();
    m_timeChannel = -1;
    m_markerChannel = -1;
    m_nextMarker = 0;
    for (int c = 0; c < m_channels; ++c) {
        const CMeAcgChannelzq* ch = first->getChannel(c);
        m_signals.push_back(signalFor(*ch, plannedMs));
        const std::string name = utf8(ch->m_label);
        m_names.push_back(ch->isEEGChannel() ? standardElectrodeName(name) : name);
        m_typed.push_back(typedChannelLabel(ch->m_kind, name, ch->m_boardIndex));
        // Kept for the sidecar: by the end the first trial may be given back.
        m_described.push_back(std::make_unique<CMeAcgChannelzq>(*ch, 0));
        if (ch->isTimeStampChannel() && m_timeChannel < 0) m_timeChannel = c;
        if (ch->m_kind == GEOM_KIND_TRAILER && name == "Marker" && m_markerChannel < 0) m_markerChannel = c;
    }
    std::vector<std::string> labels = makeBdfLabels(m_typed);
    for (int c = 0; c < m_channels; ++c) m_signals[static_cast<size_t>(c)].label = labels[static_cast<size_t>(c)];
    return true;
}

bool RecordingFile::openFile(std::int64_t rows, std::int64_t knownNotes, std::int64_t knownRecords) {
    if (!m_data.m_overwrite) {
        std::error_code ec;
        const char* how = " exists already; it is replaced only when overwriting is asked for";
        if (fs::exists(fs::symlink_status(m_target, ec))) return fail(std::string("the file") + how);
        if (fs::exists(fs::symlink_status(m_sidecar, ec)))
            return fail("its sidecar " + m_sidecar.filename().string() + how);
    }
    const std::int64_t n = m_layout.samplesPerRecord;
    m_start = m_data.m_recordStartUnix != 0
                  ? static_cast<std::time_t>(m_data.m_recordStartUnix)
                  : std::time(nullptr) - static_cast<std::time_t>(static_cast<double>(rows) / m_rate);
    BdfHeaderInfo info;
    info.start = m_start;
    info.equipment = "mbeeg";
    info.patientCode = m_data.m_subject;
    info.adminCode = m_data.m_session;
    info.recordingAdditional = m_data.m_note;
    // One slot for the trial marks a record holds, one for everything else;
    // a save in one go knows its notes.
    const std::int64_t planned = std::max<std::int64_t>(1, (static_cast<std::int64_t>(m_trials) * m_S + n - 1) / n);
    std::int64_t slots = (m_trials + planned - 1) / planned + 1;
    if (knownRecords > 0) slots = std::max(slots, (knownNotes + knownRecords - 1) / knownRecords);
    slots = std::clamp<std::int64_t>(slots, 1, kMaxSlots);
    m_slots = static_cast<int>(slots);
    if (m_timeChannel >= 0) m_t0 = m_data.peekTrial(0)->getChannel(m_timeChannel)->m_pValues[0];

    const std::string stem = m_target.stem().string(), ext = m_target.extension().string();
    m_livePath.clear();
    for (int k = 1; k <= 100 && m_livePath.empty(); ++k) {
        fs::path p = m_folder / (stem + ".partial" + (k > 1 ? "-" + std::to_string(k) : std::string()) + ext);
        if (m_writer.open(p.string(), m_signals, m_layout, m_slots, info)) m_livePath = p;
        else if (!m_writer.fileExisted()) return fail(m_writer.lastError());
    }
    if (m_livePath.empty()) return fail("no free name beside it for the file being written");
    m_opened = true;
    m_written = 0;
    m_buf.assign(static_cast<size_t>(m_channels) * static_cast<size_t>(n), 0.0);
    m_last.assign(static_cast<size_t>(m_channels), 0.0);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_live = m_livePath.string();
    return true;
}

std::int64_t RecordingFile::availableRows() const {
    // Trials given back were in the file whole.
    const int released = m_data.releasedTrials();
    std::int64_t rows = static_cast<std::int64_t>(released) * m_S;
    for (int t = released; t < m_trials; ++t) {
        CMeAcqTrialzq* tr = m_data.peekTrial(t);
        if (!tr) break;
        std::int64_t done = -1;
        for (int c = 0; c < tr->getTotalChannel(); ++c) {
            std::int64_t l = tr->getChannel(c)->m_lastSample.load(std::memory_order_acquire);
            if (l >= 0) done = done < 0 ? l + 1 : std::min(done, l + 1);
        }
        if (done <= 0) break;
        done = std::min(done, m_S);
        rows = static_cast<std::int64_t>(t) * m_S + done;
        if (done < m_S) break;
    }
    return rows;
}

std::int64_t RecordingFile::finalRows(int& lastTrial) const {
    lastTrial = -1;
    for (int t = m_trials - 1; t >= 0; --t) {
        std::int64_t f = m_data.filledSamples(t);
        if (f > 0) {
            lastTrial = t;
            return static_cast<std::int64_t>(t) * m_S + std::min(f, m_S);
        }
    }
    return 0;
}

std::int64_t RecordingFile::rowsToNextRecord() const {
    if (!m_opened) return 1;
    return std::max<std::int64_t>(1, m_written + m_layout.samplesPerRecord - availableRows());
}

bool RecordingFile::writeCompleted() {
    if (m_failed.load()) return false;
    if (m_done) return true;
    if (!m_opened) {
        // Opened at the first row: by then the loop has set the channels'
        // ranges, and a target that cannot be written stops the recording
        // at once.
        CMeAcqTrialzq* first = m_data.peekTrial(0);
        bool any = false;
        for (int c = 0; first && c < first->getTotalChannel() && !any; ++c)
            any = first->getChannel(c)->m_lastSample.load(std::memory_order_acquire) >= 0;
        if (!any) return true;
        if (!resolveTarget() || !prepare() || !openFile(availableRows(), 0, 0)) return false;
        CAcqDriver02Prcs::addInfoStatus(wide("Recording to " + m_livePath.string() + "; it becomes " +
                                             m_target.string() + " when the recording ends"));
    }
    const std::int64_t rows = availableRows();
    const std::int64_t n = m_layout.samplesPerRecord;
    if (!appendUpTo(rows / n * n, rows)) return writeFailure();
    m_data.releaseWritten(m_written);
    return true;
}

bool RecordingFile::appendUpTo(std::int64_t upTo, std::int64_t rowsWithData) {
    const std::int64_t n = m_layout.samplesPerRecord;
    const std::vector<CMeAcqData09File::Marker> markers =
        m_markerChannel >= 0 ? m_data.markers() : std::vector<CMeAcqData09File::Marker>();
    while (m_written < upTo) {
        for (std::int64_t i = 0; i < n; ++i) {
            const std::int64_t g = m_written + i;
            const CMeAcqTrialzq* trial = g < rowsWithData ? m_data.peekTrial(static_cast<int>(g / m_S)) : nullptr;
            if (trial) {
                const std::int64_t k = g % m_S;
                for (int c = 0; c < m_channels; ++c) {
                    double v = trial->getChannel(c)->m_pValues[k];
                    if (c == m_timeChannel) v -= m_t0;
                    m_last[static_cast<size_t>(c)] = v;
                }
            }
            for (int c = 0; c < m_channels; ++c)
                m_buf[static_cast<size_t>(c * n + i)] = m_last[static_cast<size_t>(c)];
            if (m_markerChannel >= 0) {
                // Only the marked row holds the code, padding included.
                double code = 0;
                for (; m_nextMarker < markers.size() && markers[m_nextMarker].row <= g; ++m_nextMarker)
                    code = markers[m_nextMarker].code;
                m_buf[static_cast<size_t>(m_markerChannel * n + i)] = code;
            }
        }
        if (!m_writer.appendRecord(m_buf.data())) return false;
        m_written += n;
    }
    return true;
}

std::vector<SidecarAnnotation> RecordingFile::notesFor(std::int64_t rows, std::int64_t padded, bool complete) const {
    std::vector<SidecarAnnotation> notes;
    if (rows <= 0) return notes;
    const int lastTrial = static_cast<int>((rows - 1) / m_S);
    const double seconds = static_cast<double>(rows) / m_rate;
    for (int t = 0; t <= lastTrial; ++t)
        notes.push_back({static_cast<double>(t) * static_cast<double>(m_S) / m_rate, "Trial " + std::to_string(t + 1),
                         "trial"});
    for (const auto& a : m_data.annotations())
        if (complete || a.seconds < seconds) notes.push_back({a.seconds, utf8(a.text), "user"});
    // The loop hands the triggers over only when it ends.
    if (complete) {
        for (const auto& e : m_data.stimEvents().m_events) {
            if (e.trial < 0 || e.trial > lastTrial || e.sample < 0 || e.sample >= m_S) continue;
            double at = (static_cast<double>(e.trial) * static_cast<double>(m_S) + static_cast<double>(e.sample)) / m_rate;
            notes.push_back({at, "Trigger " + std::to_string(e.code), "trigger"});
        }
    }
    if (padded > 0)
        notes.push_back({seconds, "Padding: last sample repeated " + std::to_string(padded) + " times", "padding"});
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.onset < b.onset; });
    return notes;
}

void RecordingFile::writeNotes(const std::vector<SidecarAnnotation>& notes) {
    for (const auto& a : notes) m_writer.addAnnotation(a.onset, a.text);
}

bool RecordingFile::writeFailure() {
    const std::string why = m_writer.lastError();
    writeNotes(notesFor(m_written, 0, false));
    m_writer.close();
    m_done = true;
    const std::string live = m_livePath.string();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_live.clear();
    }
    if (m_writer.recordsWritten() == 0) {
        ::unlink(live.c_str());
        return fail(why + "; nothing could be written");
    }
    const std::string secs = secondsText(static_cast<double>(m_written) / m_rate);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_partial = live;
    }
    return fail(why + "; writing stopped after " + secs + " s of data, which " + live +
                " holds (closed and readable)");
}

bool RecordingFile::finish() {
    if (m_failed.load()) return false;
    if (m_done) return true;
    int lastTrial = -1;
    if (!m_opened) {
        if (!resolveTarget() || !prepare()) return false;
        const std::int64_t total = finalRows(lastTrial);
        if (lastTrial < 0) return fail("nothing was recorded: no trial holds samples");
        const std::int64_t n = m_layout.samplesPerRecord;
        const std::int64_t records = (total + n - 1) / n;
        const auto notes = notesFor(total, records * n - total, true);
        if (!openFile(total, static_cast<std::int64_t>(notes.size()), records)) return false;
    }
    const std::int64_t total = std::max(finalRows(lastTrial), m_written);
    const std::int64_t n = m_layout.samplesPerRecord;
    const std::int64_t records = (total + n - 1) / n;
    const std::int64_t padded = records * n - total;
    if (!appendUpTo(records * n, total)) return writeFailure();

    const std::string live = m_livePath.string();
    // From here the file is whole; what goes wrong leaves it under its own
    // name, never under the target's.
    auto keep = [&](const std::string& why) {
        m_done = true;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_live.clear();
            m_partial = live;
        }
        return fail(why + "; the recording is in " + live);
    };
    const auto notes = notesFor(total, padded, true);
    const std::int64_t notInBdf =
        std::max<std::int64_t>(0, static_cast<std::int64_t>(notes.size()) - static_cast<std::int64_t>(m_slots) * records);
    for (const auto& a : notes)
        if (!m_writer.addAnnotation(a.onset, a.text)) {
            m_writer.close();
            return keep(m_writer.lastError());
        }
    std::vector<CMeAcqData::BoardInfo> boards = m_data.boardInfos();
    if (!boards.empty()) {
        std::uint64_t lost = 0, rejected = 0;
        for (const auto& b : boards) {
            lost += b.lost;
            rejected += b.rejected;
        }
        m_writer.setRecordingAdditional((m_data.m_note.empty() ? "" : m_data.m_note + "; ") +
                                        std::to_string(boards.size()) + " boards, " + std::to_string(lost) +
                                        " rows lost, " + std::to_string(rejected) + " packets rejected");
    }
    if (!m_writer.close()) {
        m_done = true;
        return writeFailure();
    }
    m_done = true;
    if (std::string bad = checkWrittenFile(live, m_channels, records); !bad.empty()) return keep(bad);

    // The sidecar.
    RecordingDescription d;
    d.file = m_target.filename().string();
    d.subject = m_data.m_subject;
    d.session = m_data.m_session;
    d.note = m_data.m_note;
    d.electrodeFrame = m_data.m_electrodeFrame;
    d.electrodeUnit = m_data.m_electrodeUnit;
    d.startTime = isoTime(m_start);
    d.sampleRate = m_rate;
    d.headerSampleRate = m_layout.headerRate();
    d.trials = m_trials;
    d.trialsWritten = static_cast<int>((total - 1) / m_S) + 1;
    d.samplesPerTrial = m_S;
    d.samples = total;
    d.recordSamples = m_layout.samplesPerRecord;
    d.recordSeconds = m_layout.recordSeconds();
    d.paddedSamples = padded;
    d.annotationsNotInBdf = notInBdf;
    for (int c = 0; c < m_channels; ++c) {
        const CMeAcgChannelzq* ch = m_described[static_cast<size_t>(c)].get();
        const BdfSignal& s = m_signals[static_cast<size_t>(c)];
        SidecarChannel sc;
        sc.label = s.label;
        sc.name = m_names[static_cast<size_t>(c)];
        sc.kind = kindName(ch->m_kind);
        sc.unit = s.unit;
        sc.physMin = s.physMin;
        sc.physMax = s.physMax;
        sc.digMin = s.digMin;
        sc.digMax = s.digMax;
        if (ch->m_boardIndex >= 0) sc.board = ch->m_boardIndex;
        if (ch->m_pin >= 0) sc.pin = ch->m_pin;
        if (!ch->m_portText.IsEmpty()) {
            sc.port = utf8(ch->m_portText);
        } else if (ch->m_boardIndex >= 0) {
            // Discovery leaves the geometry's port empty; the loop knows it.
            for (const auto& b : boards)
                if (b.board == ch->m_boardIndex && !b.port.IsEmpty()) sc.port = utf8(b.port);
        }
        if (ch->isEEGChannel()) {
            sc.gain = static_cast<int>(std::lround(4.5e6 / s.physMax));  // full scale 4.5 V / gain
            sc.x = ch->m_elcX;
            sc.y = ch->m_elcY;
            sc.z = ch->m_elcZ;
        }
        d.channels.push_back(std::move(sc));
    }
    for (const auto& b : boards)
        d.boards.push_back({b.board, utf8(b.port), b.radioChannel, b.rows, b.packets, b.lost, b.rejected, b.driftHeld,
                            b.driftDropped, b.reconnects});
    d.annotations = notes;
    const fs::path tmpJson = m_folder / ("." + m_sidecar.filename().string() + ".part");
    std::string err;
    if (!writeSidecar(tmpJson.string(), d, err)) {
        ::unlink(tmpJson.c_str());
        return keep("the sidecar " + m_sidecar.string() + ": " + err);
    }

    // Both complete: put them in place.
    if (!putInPlace(m_livePath, m_target, m_data.m_overwrite, err)) {
        ::unlink(tmpJson.c_str());
        return keep("cannot put the file in place: " + err);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_live.clear();
        m_saved = m_target.string();
    }
    if (!putInPlace(tmpJson, m_sidecar, m_data.m_overwrite, err)) {
        ::unlink(tmpJson.c_str());
        return fail("the sidecar " + m_sidecar.string() + " cannot be put in place: " + err);
    }
    if (notInBdf > 0)
        CAcqDriver02Prcs::addInfoStatus(wide("Recording: " + std::to_string(notInBdf) +
                                             " annotations did not fit the BDF file; the sidecar has them all"));
    CAcqDriver02Prcs::addInfoStatus(wide("Recording saved: " + m_target.string()));
    return true;
}

}  // namespace acqhost
