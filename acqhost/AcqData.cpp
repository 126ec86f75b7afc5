// The acquisition data set: trials built from a channel list, the trial the
// reading loop fills, and what a recording carries besides its samples.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "host/AcqFramework.h"

namespace {

// Trials are made as they are reached and long ones take memory only as they
// are written, so this bounds address space, not memory: beyond it a
// recording is not one any disk would hold.
constexpr double kMaxBytes = 16.0 * 1024 * 1024 * 1024 * 1024;

}  // namespace

CMeAcqData::CMeAcqData() = default;
CMeAcqData::~CMeAcqData() = default;

CMeAcqTrialzq* CMeAcqData::checkInitTrls4Acq(int record, int, int) {
    if (m_trials.empty()) return nullptr;
    m_curTrial = 0;
    // Readers that poll before the loop has started see no rows of the last run.
    m_rowsOut = 0;
    if (record && m_recordFlag) {
        // The loop writes rows from 0 again: what an earlier run left must
        // not count as recorded.
        stopRecordingFile();
        {
            std::lock_guard<std::mutex> hold(m_holdMutex);
            std::lock_guard<std::mutex> lock(m_trialMutex);
            for (size_t t = 1; t < m_trials.size(); ++t) m_trials[t].reset();
            m_released = 0;
            m_releasedRows = 0;
        }
        CMeAcqTrialzq* first = getTrial(0);
        if (!first) return nullptr;
        for (int c = 0; c < first->getTotalChannel(); ++c) first->getChannel(c)->m_lastSample = -1;
        m_writeFailed = false;
        startRecordingFile();
        return first;
    }
    return getTrial(0);
}

int CMeAcqData::initTrials(int trials, std::int64_t samples, ChnGeomList* list, ACQ_TRIAL_CALLBACK cb) {
    m_initError.Empty();
    stopRecordingFile();
    m_writeFailed = false;
    auto fail = [this](const CString& why) {
        m_initError = why;
        CAcqDriver02Prcs::addInfoStatus(why);
        return 0;
    };
    if (!list || list->Size() == 0) return fail(L"Acquisition data: no channels to build trials from");
    for (std::uint32_t i = 0; i < list->Size(); ++i) {
        if (!(*list)[i]) {
            CString why;
            why.Format(L"Acquisition data: channel %u of the list is missing", i);
            return fail(why);
        }
    }
    if (trials < 1 || samples < 1) {
        CString why;
        why.Format(L"Acquisition data: %d trials of %lld samples cannot be acquired", trials,
                   static_cast<long long>(samples));
        return fail(why);
    }
    double bytes = 2.0 * sizeof(double) * static_cast<double>(samples) * trials * list->Size();
    if (bytes > kMaxBytes) {
        CString why;
        why.Format(L"Acquisition data: %d trials of %lld samples on %u channels need %.1f GiB, too much", trials,
                   static_cast<long long>(samples), list->Size(), bytes / (1024.0 * 1024 * 1024));
        return fail(why);
    }

    // The first trial now (its set-up is checked, a monitor needs no more),
    // the others when the loop reaches them.
    std::vector<std::unique_ptr<CMeAcqTrialzq>> made;
    std::unique_ptr<CMeAcqTrialzq> blueprint;
    try {
        made.resize(static_cast<size_t>(trials));
        blueprint = std::make_unique<CMeAcqTrialzq>(*list, 1);
        made[0] = std::make_unique<CMeAcqTrialzq>(*blueprint, samples);
    } catch (const std::bad_alloc&) {
        return fail(L"Acquisition data: out of memory while building the trials");
    }
    if (cb && !cb(made[0].get())) return fail(L"Acquisition data: the channel set-up of a trial failed");
    {
        std::lock_guard<std::mutex> hold(m_holdMutex);
        std::lock_guard<std::mutex> lock(m_trialMutex);
        m_trials = std::move(made);
        m_blueprint = std::move(blueprint);
        m_trialCallback = cb;
        m_trialSamples = samples;
        m_released = 0;
        m_releasedRows = 0;
    }
    m_trialCount = trials;
    m_curTrial = 0;
    m_recordInfo.m_trialCount = trials;
    m_recordInfo.m_samplesPerTrial = samples;
    m_curSample = 0;
    m_roundCounter = 0;
    m_stim.m_events.clear();
    {
        std::lock_guard<std::mutex> lock(m_infoMutex);
        m_annotations.clear();
    }
    return 1;
}

int CMeAcqData::acqInitDataTrlChnlGeom4Monit(int trials, std::int64_t samples, ChnGeomList* list,
                                             ACQ_TRIAL_CALLBACK cb) {
    if (!initTrials(trials, samples, list, cb)) return 0;
    m_recordFlag = 0;
    return 1;
}

int CMeAcqData::acqInitDataTrlChnlGeom4Record(const CString& folder, const CString& name, int trials,
                                              std::int64_t samples, ChnGeomList* list, ACQ_TRIAL_CALLBACK cb) {
    if (!initTrials(trials, samples, list, cb)) return 0;
    m_recordFolder = folder;
    m_recordName = name;
    m_recordFlag = 1;
    return 1;
}

int CMeAcqData::getTotalMEGChannel(bool, bool) {
    std::lock_guard<std::mutex> lock(m_trialMutex);
    return m_blueprint ? m_blueprint->getTotalChannel() : 0;
}

CMeAcqTrialzq* CMeAcqData::switchTrl4Record(int index, int) {
    if (m_writeFailed.load()) return nullptr;
    CMeAcqTrialzq* t = getTrial(index);
    if (t) m_curTrial = index;
    return t;
}

CMeAcqTrialzq* CMeAcqData::getTrial(int index) {
    std::lock_guard<std::mutex> lock(m_trialMutex);
    if (index < m_released || index >= static_cast<int>(m_trials.size())) return nullptr;
    auto& slot = m_trials[static_cast<size_t>(index)];
    if (!slot && m_blueprint) {
        try {
            auto made = std::make_unique<CMeAcqTrialzq>(*m_blueprint, m_trialSamples);
            if (m_trialCallback && !m_trialCallback(made.get())) {
                CAcqDriver02Prcs::addInfoStatus(L"Acquisition data: the channel set-up of a trial failed");
                return nullptr;
            }
            slot = std::move(made);
        } catch (const std::bad_alloc&) {
            CAcqDriver02Prcs::addInfoStatus(L"Acquisition data: out of memory while making a trial");
            return nullptr;
        }
    }
    return slot.get();
}

CMeAcqTrialzq* CMeAcqData::peekTrial(int index) const {
    std::lock_guard<std::mutex> lock(m_trialMutex);
    if (index < m_released || index >= static_cast<int>(m_trials.size())) return nullptr;
    return m_trials[static_cast<size_t>(index)].get();
}

int CMeAcqData::releasedTrials() const {
    std::lock_guard<std::mutex> lock(m_trialMutex);
    return m_released;
}

void CMeAcqData::releaseWritten(std::int64_t rows) {
    if (!m_releaseWritten) return;
    if (rows <= 0) return;
    // A reader in the middle of a copy finishes it first.
    std::lock_guard<std::mutex> hold(m_holdMutex);
    std::lock_guard<std::mutex> lock(m_trialMutex);
    const std::int64_t S = m_trialSamples;
    // The loop still holds the trial it fills, even when the file has all
    // of it: that one waits until the loop has switched on. The trial just
    // finished stays too, so that a reader a little behind (a live view)
    // does not lose its end at every switch.
    while (m_released < static_cast<int>(m_trials.size()) && m_released + 1 < m_curTrial.load() &&
           static_cast<std::int64_t>(m_released + 1) * S <= rows)
        m_trials[static_cast<size_t>(m_released++)].reset();
    const std::int64_t start = static_cast<std::int64_t>(m_released) * S;
    std::int64_t gone = start;
    CMeAcqTrialzq* t = m_released < static_cast<int>(m_trials.size()) ? m_trials[static_cast<size_t>(m_released)].get() : nullptr;
    for (int c = 0; t && c < t->getTotalChannel(); ++c)
        gone = std::max(gone, start + t->getChannel(c)->releaseBefore(rows - start));
    if (gone > m_releasedRows.load()) m_releasedRows = gone;
}

std::size_t CMeAcqData::sampleBytesHeld() const {
    std::lock_guard<std::mutex> lock(m_trialMutex);
    std::size_t n = 0;
    for (const auto& t : m_trials)
        if (t)
            for (int c = 0; c < t->getTotalChannel(); ++c) n += t->getChannel(c)->residentBytes();
    return n;
}

void CMeAcqData::setAcqStimTrig2Data(CStimTrigzq* stim) {
    if (stim) m_stim.m_events = stim->m_events;
}

// Samples stay in memory until saveDataset4Record writes them.
int CMeAcqData::saveAllTrials() { return 1; }

void CMeAcqData::addBoardInfo(const BoardInfo& info) {
    std::lock_guard<std::mutex> lock(m_infoMutex);
    for (auto& b : m_boards) {
        if (b.board == info.board) {
            b = info;
            return;
        }
    }
    m_boards.push_back(info);
}

std::vector<CMeAcqData::BoardInfo> CMeAcqData::boardInfos() const {
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_boards;
}

void CMeAcqData::addAnnotation(double seconds, const CString& text) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_annotations.push_back({seconds, text});
}

std::vector<CMeAcqData::Annotation> CMeAcqData::annotations() const {
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_annotations;
}

double CMeAcqData::getSample(int trial, int channel, std::int64_t sample, int which) const {
    const CMeAcqTrialzq* t = peekTrial(trial);
    if (!t || channel < 0 || channel >= t->getTotalChannel()) return std::numeric_limits<double>::quiet_NaN();
    const CMeAcgChannelzq* c = t->getChannel(channel);
    if (sample < 0 || sample >= c->m_samples) return std::numeric_limits<double>::quiet_NaN();
    return (which == 2 ? c->m_pValuesMirror : c->m_pValues)[sample];
}

std::int64_t CMeAcqData::filledSamples(int trial) const {
    const CMeAcqTrialzq* t = peekTrial(trial);
    if (!t) return 0;
    std::int64_t last = -1;
    for (int i = 0; i < t->getTotalChannel(); ++i) {
        std::int64_t l = t->getChannel(i)->m_lastSample.load();
        if (l > last) last = l;
    }
    std::int64_t n = last + 1;
    return n > t->getTotalSample(-1) ? t->getTotalSample(-1) : n;
}
