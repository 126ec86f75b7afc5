// The driver base: configurations, host time and the stimulus/trigger hooks
// the reading loop calls around each acquisition.
#include "acqhost/RecordingFile.h"
#include "host/AcqFramework.h"
#include "platform/clock.h"

CAcqDriver::CAcqDriver() : m_stimOwned(std::make_unique<CStimTrigzq>()) { m_pStimTrig = m_stimOwned.get(); }

CAcqDriver::~CAcqDriver() = default;

void CAcqDriver::setConfigUser(CHdwrConfigzq* cfg) { m_pConfigUser = cfg; }

int CAcqDriver::checkInitConfigUserDetect(int create, int copy) {
    if (!m_pConfigUser) return 0;
    if (m_pConfigDetect) return 1;
    if (!create) return 0;
    m_detectOwned = copy ? std::make_unique<CHdwrConfigzq>(*m_pConfigUser) : std::make_unique<CHdwrConfigzq>();
    m_pConfigDetect = m_detectOwned.get();
    return 1;
}

std::int64_t CAcqDriver::getTimeStampMs() { return platform::clock().nowMs(); }

void CAcqDriver02Prcs::threadStartMonitRecordStiTrg() {
    m_stimSample = 0;
    m_stimRunning = true;
}

void CAcqDriver02Prcs::threadStopMonitRecordStiTrg() {
    m_stimRunning = false;
    acqhost::wakeRecordingFiles();
}

int CAcqDriver02Prcs::setTrlDataPts4StimTrg(int trial, int channel, double* second, double* first) {
    m_stimTrial = trial;
    m_stimChannel = channel;
    m_pStimData2 = second;
    m_pStimData1 = first;
    return 1;
}

// Called after each delivered row: the recording files wait for rows.
void CAcqDriver02Prcs::setSmp4StimTrg(std::int64_t sample) {
    m_stimSample = sample;
    acqhost::rowDelivered();
}
