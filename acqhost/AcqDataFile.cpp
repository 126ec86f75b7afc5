// Saving a recording: all trials that hold samples, in order, as one BDF+
// file with a JSON sidecar. Both are written under temporary names in the
// target folder and renamed at the end, so a failed save never leaves a
// truncated file under the final name.
#include <edflib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "acqhost/BdfWriter.h"
#include "acqhost/RecordingSidecar.h"
#include "host/AcqFramework.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDig24Min = -8388608;
constexpr int kDig24Max = 8388607;

std::string utf8(const CString& s) { return platform::narrow(s.str()); }
CString wide(const std::string& s) { return CString(platform::widen(s)); }

bool validRange(double lo, double hi) { return std::isfinite(lo) && std::isfinite(hi) && hi > lo; }

// How one trial channel goes into the file.
acqhost::BdfSignal signalFor(const CMeAcgChannelzq& c, double durationMs) {
    acqhost::BdfSignal s;
    s.digMin = kDig24Min;
    s.digMax = kDig24Max;
    switch (c.m_kind) {
        case GEOM_KIND_EEG:
            s.unit = "uV";
            if (validRange(c.m_rangeMin, c.m_rangeMax)) {
                s.physMin = c.m_rangeMin;
                s.physMax = c.m_rangeMax;
            } else {  // the default gain of 24
                s.physMax = 4.5e6 / 24;
                s.physMin = -8388608 * (4.5 / 8388607 / 24 * 1e6);
            }
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

const wchar_t* kindName(int kind) {
    switch (kind) {
        case GEOM_KIND_EEG: return L"EEG";
        case GEOM_KIND_ACCEL: return L"Accelerometer";
        case GEOM_KIND_ANALOG: return L"Analog";
        case GEOM_KIND_TRIGGER: return L"Trigger";
        case GEOM_KIND_TIMESTAMP: return L"TimeStamp";
        case GEOM_KIND_TRAILER: return L"Trailer";
        default: return L"Unknown";
    }
}

std::string isoTime(std::time_t t) {
    std::tm tm{};
    char buf[32] = "";
    if (localtime_r(&t, &tm)) std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// Reads the header of a freshly written file back; EDFlib rejects a file
// whose size does not match its header, which catches a short write.
std::string checkWrittenFile(const std::string& path, int signals, std::int64_t records) {
    std::lock_guard<std::mutex> lock(acqhost::edflibMutex());
    edf_hdr_struct hdr{};
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0)
        return acqhost::edfErrorText(hdr.filetype);
    edfclose_file(hdr.handle);
    if (hdr.filetype != EDFLIB_FILETYPE_BDFPLUS || hdr.edfsignals != signals || hdr.datarecords_in_file != records)
        return "the file read back does not match what was written";
    return {};
}

}  // namespace

int CMeAcqData09File::saveDataset4Record() {
    m_saveError.Empty();
    m_savedPath.Empty();
    std::string tmpBdf, tmpJson;
    fs::path target;
    auto fail = [&](const std::string& why) {
        std::error_code ec;
        if (!tmpBdf.empty()) fs::remove(tmpBdf, ec);
        if (!tmpJson.empty()) fs::remove(tmpJson, ec);
        std::string where = target.empty() ? std::string("(no file)") : target.string();
        m_saveError = wide(where + ": " + why);  // the caller reports it
        return 0;
    };

    // Where the file goes.
    CString nameText = m_text2;
    nameText.Trim();
    if (nameText.IsEmpty()) return fail("no file name was given for the recording");
    CString folderText = m_text1;
    folderText.Trim();
    target = folderText.IsEmpty() ? fs::path(utf8(nameText)) : fs::path(utf8(folderText)) / utf8(nameText);
    if (!target.has_filename()) return fail("the file name is missing");
    if (!target.has_extension()) target += ".bdf";
    fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    std::error_code ec;
    auto st = fs::status(folder, ec);
    if (!fs::exists(st)) return fail("the folder does not exist");
    if (!fs::is_directory(st)) return fail("the folder is not a folder");
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return fail("the folder is not writable");
    fs::path sidecar = target;
    sidecar.replace_extension(".json");

    // What there is to write.
    if (m_trials.empty()) return fail("the data set has no trials");
    double rate = m_recordInfo.m_sampleRate > 0 ? m_recordInfo.m_sampleRate : m_recordInfo.m_sampleRate2;
    const std::int64_t S = m_trials.front()->getTotalSample(-1);
    acqhost::BdfRecordLayout layout = acqhost::chooseBdfRecordLayout(rate, S);
    if (layout.samplesPerRecord < 1) return fail("the sample rate " + std::to_string(rate) + " Hz is not valid");
    int lastTrial = -1;
    std::int64_t lastFill = 0;
    for (int t = static_cast<int>(m_trials.size()) - 1; t >= 0 && lastTrial < 0; --t) {
        std::int64_t f = filledSamples(t);
        if (f > 0) {
            lastTrial = t;
            lastFill = f;
        }
    }
    if (lastTrial < 0) return fail("nothing was recorded: no trial holds samples");
    // Trials before the last one are written whole, so trial starts stay on
    // record boundaries.
    const std::int64_t total = static_cast<std::int64_t>(lastTrial) * S + lastFill;
    const std::int64_t n = layout.samplesPerRecord;
    const std::int64_t records = (total + n - 1) / n;
    const std::int64_t padded = records * n - total;

    CMeAcqTrialzq* first = m_trials.front().get();
    const int channels = first->getTotalChannel();
    const double durationMs = static_cast<double>(total) / rate * 1000.0;
    std::vector<acqhost::BdfSignal> signals;
    std::vector<std::string> names;
    int timeChannel = -1;
    for (int c = 0; c < channels; ++c) {
        const CMeAcgChannelzq* ch = first->getChannel(c);
        signals.push_back(signalFor(*ch, durationMs));
        names.push_back(utf8(ch->m_label));
        if (ch->isTimeStampChannel() && timeChannel < 0) timeChannel = c;
    }
    std::vector<std::string> labels = acqhost::makeBdfLabels(names);
    for (int c = 0; c < channels; ++c) signals[static_cast<size_t>(c)].label = labels[static_cast<size_t>(c)];
    const double t0 = timeChannel >= 0 ? first->getChannel(timeChannel)->m_pData1[0] : 0.0;

    // Annotations, in time order.
    std::vector<acqhost::SidecarAnnotation> notes;
    for (int t = 0; t <= lastTrial; ++t)
        notes.push_back({static_cast<double>(t) * static_cast<double>(S) / rate, "Trial " + std::to_string(t + 1),
                         "trial"});
    for (const auto& a : annotations()) notes.push_back({a.seconds, utf8(a.text), "user"});
    for (const auto& e : m_stim.m_events) {
        if (e.trial < 0 || e.trial > lastTrial || e.sample < 0 || e.sample >= S) continue;
        double at = (static_cast<double>(e.trial) * static_cast<double>(S) + static_cast<double>(e.sample)) / rate;
        notes.push_back({at, "Trigger " + std::to_string(e.code), "trigger"});
    }
    if (padded > 0)
        notes.push_back({static_cast<double>(total) / rate,
                         "Padding: last sample repeated " + std::to_string(padded) + " times", "padding"});
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.onset < b.onset; });
    const std::int64_t slots = std::clamp<std::int64_t>((static_cast<std::int64_t>(notes.size()) + records - 1) / records, 1, 64);
    const std::int64_t notInBdf = std::max<std::int64_t>(0, static_cast<std::int64_t>(notes.size()) - slots * records);

    // The BDF+ file.
    std::time_t start = m_recordStartUnix != 0 ? static_cast<std::time_t>(m_recordStartUnix)
                                               : std::time(nullptr) - static_cast<std::time_t>(durationMs / 1000.0);
    acqhost::BdfHeaderInfo info;
    info.start = start;
    info.equipment = "mbeeg";
    std::vector<BoardInfo> boards = boardInfos();
    if (!boards.empty()) {
        std::uint64_t dropped = 0, gaps = 0;
        for (const auto& b : boards) {
            dropped += b.dropped;
            gaps += b.gaps;
        }
        info.recordingAdditional = std::to_string(boards.size()) + " boards, " + std::to_string(dropped) +
                                   " packets dropped, " + std::to_string(gaps) + " gaps";
    }
    tmpBdf = (folder / ("." + target.filename().string() + ".part")).string();
    acqhost::BdfWriter writer;
    if (!writer.open(tmpBdf, signals, layout, static_cast<int>(slots), info)) return fail(writer.lastError());
    std::vector<double> buf(static_cast<size_t>(channels * n));
    std::vector<double> last(static_cast<size_t>(channels), 0.0);
    for (std::int64_t r = 0; r < records; ++r) {
        for (std::int64_t i = 0; i < n; ++i) {
            std::int64_t g = r * n + i;
            if (g < total) {
                int t = static_cast<int>(std::min<std::int64_t>(g / S, lastTrial));
                std::int64_t k = g - static_cast<std::int64_t>(t) * S;
                CMeAcqTrialzq* trial = m_trials[static_cast<size_t>(t)].get();
                for (int c = 0; c < channels; ++c) {
                    double v = trial->getChannel(c)->m_pData1[k];
                    if (c == timeChannel) v -= t0;
                    last[static_cast<size_t>(c)] = v;
                }
            }
            for (int c = 0; c < channels; ++c) buf[static_cast<size_t>(c * n + i)] = last[static_cast<size_t>(c)];
        }
        if (!writer.appendRecord(buf.data())) return fail(writer.lastError());
    }
    for (const auto& a : notes)
        if (!writer.addAnnotation(a.onset, a.text)) return fail(writer.lastError());
    if (!writer.close()) return fail(writer.lastError());
    std::string bad = checkWrittenFile(tmpBdf, channels, records);
    if (!bad.empty()) return fail(bad);

    // The sidecar.
    acqhost::RecordingDescription d;
    d.file = target.filename().string();
    d.startTime = isoTime(start);
    d.sampleRate = rate;
    d.headerSampleRate = layout.headerRate();
    d.trials = static_cast<int>(m_trials.size());
    d.trialsWritten = lastTrial + 1;
    d.samplesPerTrial = S;
    d.samples = total;
    d.recordSamples = layout.samplesPerRecord;
    d.recordSeconds = layout.recordSeconds();
    d.paddedSamples = padded;
    d.annotationsNotInBdf = notInBdf;
    for (int c = 0; c < channels; ++c) {
        const CMeAcgChannelzq* ch = first->getChannel(c);
        const acqhost::BdfSignal& s = signals[static_cast<size_t>(c)];
        acqhost::SidecarChannel sc;
        sc.label = s.label;
        sc.name = names[static_cast<size_t>(c)];
        sc.kind = utf8(kindName(ch->m_kind));
        sc.unit = s.unit;
        sc.physMin = s.physMin;
        sc.physMax = s.physMax;
        sc.digMin = s.digMin;
        sc.digMax = s.digMax;
        if (ch->m_boardIndex >= 0) sc.board = ch->m_boardIndex;
        if (ch->m_pin >= 0) sc.pin = ch->m_pin;
        if (!ch->m_portText.IsEmpty()) sc.port = utf8(ch->m_portText);
        if (ch->isEEGChannel()) {
            sc.x = ch->m_elcX;
            sc.y = ch->m_elcY;
            sc.z = ch->m_elcZ;
        }
        d.channels.push_back(std::move(sc));
    }
    for (const auto& b : boards)
        d.boards.push_back({b.board, utf8(b.port), b.radioChannel, b.packets, b.dropped, b.gaps});
    d.annotations = notes;
    tmpJson = (folder / ("." + sidecar.filename().string() + ".part")).string();
    std::string err;
    if (!acqhost::writeSidecar(tmpJson, d, err)) return fail("the sidecar " + sidecar.string() + ": " + err);

    // Both complete: put them in place.
    fs::rename(tmpBdf, target, ec);
    if (ec) return fail("cannot put the file in place: " + ec.message());
    tmpBdf.clear();
    m_savedPath = wide(target.string());
    fs::rename(tmpJson, sidecar, ec);
    if (ec) return fail("the sidecar " + sidecar.string() + " cannot be put in place: " + ec.message());
    tmpJson.clear();
    if (notInBdf > 0) {
        CString line;
        line.Format(L"Recording: %lld annotations did not fit the BDF file; the sidecar has them all",
                    static_cast<long long>(notInBdf));
        CAcqDriver02Prcs::addInfoStatus(line);
    }
    CAcqDriver02Prcs::addInfoStatus(L"Recording saved: " + m_savedPath);
    return 1;
}
