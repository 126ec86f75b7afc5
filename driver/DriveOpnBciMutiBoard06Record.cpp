// The reading stage: the driver's dongles, as the reading loop sees boards.
#include "driver/DriveOpnBciMutiBoard06Record.h"

#include <memory>
#include <vector>

#include "stream/ReadingLoop.h"

namespace {

class DongleBoard : public stream::LoopBoard {
public:
    explicit DongleBoard(CConfigComRadiozq* d) : d_(d) {}

    CMegSerialPortzq* port() override { return d_->m_pSerialPort; }
    // A dongle found by discovery has only its port's name.
    CString portName() const override {
        CString port = d_->m_portName;
        if (port.IsEmpty() && d_->m_pSerialPort) port = d_->m_pSerialPort->getPortName();
        return port;
    }
    int radioChannel() const override { return static_cast<int>(d_->m_radioChnl); }
    int gain(int pin) const override { return d_->m_pTrackGain ? d_->m_pTrackGain->get_gain_for_channel(pin) : 1; }
    void startStream() override { d_->set4StreamCyton(); }
    void restartStream() override { d_->resumeStreamCyton(); }
    void stopStream() override { d_->stopStreamCyton(); }
    void take(const stream::CytonPacket& packet) override { d_->takePacket(packet); }
    const double* eegSlots() const override { return d_->m_eeg; }
    const double* auxSlots() const override { return d_->m_aux; }
    void publish(const stream::BoardCounts& c) override {
        d_->m_statRows.store(c.rows, std::memory_order_relaxed);
        d_->m_statPackets.store(c.packets, std::memory_order_relaxed);
        d_->m_statDropped.store(c.badFooters, std::memory_order_relaxed);
        d_->m_statGaps.store(c.lost, std::memory_order_relaxed);
        d_->m_statOutOfStep.store(c.outOfSequence + c.late, std::memory_order_relaxed);
        d_->m_statDriftHeld.store(c.driftHeld, std::memory_order_relaxed);
        d_->m_statDriftDropped.store(c.driftDropped, std::memory_order_relaxed);
    }
    void resetReconnects() override {
        d_->m_statReconnects = 0;
        d_->m_statSilent = false;
        d_->m_statOutages = 0;
        d_->m_statLongestOutage = 0;
    }
    void outage(bool ongoing, std::int64_t rows) override {
        if (ongoing && !d_->m_statSilent.exchange(true)) d_->m_statOutages.fetch_add(1);
        d_->m_statSilent = ongoing;
        const std::uint64_t r = rows > 0 ? static_cast<std::uint64_t>(rows) : 0;
        if (r > d_->m_statLongestOutage.load()) d_->m_statLongestOutage = r;
    }
    void countReconnect() override { d_->m_statReconnects.fetch_add(1); }
    std::uint64_t reconnects() const override { return d_->m_statReconnects.load(); }

private:
    CConfigComRadiozq* d_;
};

}  // namespace

CDriveOpnBciMutiBoard06Record::~CDriveOpnBciMutiBoard06Record() = default;

int CDriveOpnBciMutiBoard06Record::s6ReadStream() {
    if (!m_pDevice) return 0;
    switch (m_pDevice->m_linkType) {
    case LINK_TYPE_CYTON8:
        return s6ReadStreamCyton();
    case LINK_TYPE_DAISY16:
        return 1;
    default:
        return 0;
    }
}

int CDriveOpnBciMutiBoard06Record::s6ReadStreamDaisy() { return 1; }

int CDriveOpnBciMutiBoard06Record::findSetStimTrigTrlData(int trialIndex, CMeAcqTrialzq* trial, int firstChannel) {
    return stream::attachStimTrig(*this, trialIndex, trial, firstChannel);
}

int CDriveOpnBciMutiBoard06Record::s6ReadStreamCyton() {
    std::vector<std::unique_ptr<DongleBoard>> adapters;
    stream::LoopRun run;
    for (CConfigComRadiozq* d : m_dongles) {
        adapters.push_back(d ? std::make_unique<DongleBoard>(d) : nullptr);
        run.boards.push_back(adapters.back().get());
    }
    run.host = this;
    run.data = m_pData;
    run.trial = &m_pTrial;
    run.rate = m_pDevice ? m_pDevice->m_sampleRate : 250.0;
    run.stop = &m_stopFlag;
    return stream::runReadingLoop(run);
}

UINT CDriveOpnBciMutiBoard06Record::acqThreadProc(LPVOID param) {
    auto* drv = static_cast<CDriveOpnBciMutiBoard06Record*>(param);
    if (!drv) return 0;
    const bool record = drv->m_pData && drv->m_pData->m_recordFlag != 0;
    drv->m_statusCode = record ? StatusCode::Recording : StatusCode::Monitoring;
    if (drv->m_pDevice && drv->m_pDevice->m_linkType == LINK_TYPE_CYTON8) drv->s6ReadStreamCyton();
    drv->m_statusCode = record ? StatusCode::RecordingEnded : StatusCode::MonitoringEnded;
    // The thread's handle deletes itself when the thread ends, so neither
    // pointer to it may outlive this procedure.
    drv->m_pMonitThread = nullptr;
    drv->m_pRecordThread = nullptr;
    return 0;
}
