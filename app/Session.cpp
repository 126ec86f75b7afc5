#include "app/Session.h"

#include <csignal>
#include <cstdio>
#include <thread>

#include "app/Activity.h"
#include "app/Console.h"
#include "app/SimHardware.h"
#include "platform/afxwin.h"
#include "serialport/Backend.h"

namespace app {

std::atomic<bool> g_interrupted{false};

namespace {
void onSignal(int) { g_interrupted = true; }
}  // namespace

void installInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    // A closed pipe (mbeeg monitor | head -1) and a closed terminal end a
    // run the way Ctrl-C does: streams stopped, what came saved.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(sig, &sa, nullptr);
}

Session::Session(const SessionOptions& opts) : opts_(opts), data_(new CMeAcqDatazq), driver_(new CDriveOpnBciMutiBoardzq) {
    config_.m_linkType = opts.link;
    config_.m_name = L"mbeeg";
    if (opts.sim.boards > 0) sim_ = std::make_unique<SimHardware>(opts.sim);
    driver_->m_retryCount = static_cast<unsigned>(opts.retries);
}

Session::~Session() {
    stop();
    driver_->cleanDevice();
    driver_->cleanConfigComBle2Board();
    driver_->cleanCloseFaceCom();
    delete driver_;
    sim_.reset();
}

bool Session::connect() {
    watchSerialActivity();
    holdNotices();
    std::atomic<bool> done{false};
    auto t0 = platform::clock().nowMs();
    std::thread ticker([&] {
        while (!done) {
            double s = static_cast<double>(platform::clock().nowMs() - t0) / 1000.0;
            char line[256];
            std::snprintf(line, sizeof line, "discovering boards: %s (%.1f s)", currentActivity().c_str(), s);
            progress(line);
            for (int i = 0; i < 5 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    int ok = driver_->_02connectCom2Device(&config_, data_.get());
    done = true;
    ticker.join();
    if (!console().trace) mbeeg::serial::setTrafficObserver(nullptr);
    progressDone();
    std::vector<std::string> notices = releaseNotices();
    // Ports left out and boards sharing a channel are worth a line each
    // (--verbose has them in the status log already).
    if (!console().verbose)
        for (const CString& n : driver_->m_findings.notes) error(platform::narrow(n.str()));
    if (ok && driver_->m_findings.sharedChannel) {
        error("not connected: two boards on one radio channel would mix their samples; run 'mbeeg radio assign' "
              "to give every board its own channel");
        return false;
    }
    if (!ok || driver_->m_dongles.empty()) {
        // The library says the same thing in several boxes on the way; one
        // line of ours says what failed (--verbose shows theirs).
        const int status = driver_->m_statusCode.load();
        std::string why;
        if (status == StatusCode::Failed)
            why = "no dongle found among the serial ports (see 'mbeeg ports'): plug one in";
        else if (status == StatusCode::NoDongle) {
            std::string ports;
            const CStringArray& names = driver_->m_donglePortNames;
            for (int i = 0; i < names.GetSize(); ++i)
                ports += (ports.empty() ? "" : ", ") + platform::narrow(names[i].str());
            why = "no board answered behind the dongle(s) on " + ports +
                  ": check that the boards are powered and in range";
        }
        else
            why = "check that the dongles are plugged in and the boards are powered";
        error("no board connected (status " + std::to_string(status) + "): " + why);
        return false;
    }
    // On success the library's notices still matter (a link type changed).
    if (!console().verbose)
        for (const auto& m : notices) error(m);
    if (!driver_->_03makeAcgSns()) {
        error("the boards were found but no channel list could be built");
        return false;
    }
    if (opts_.afterConnect) connectStatus_ = opts_.afterConnect(*this);
    return !opts_.afterConnect || connectStatus_ == 0;
}

bool Session::startMonitor(std::int64_t samplesPerTrial) {
    data_->m_recordFlag = 0;
    data_->getMEGRecordInfozq()->m_trialCount = 1;
    data_->getMEGRecordInfozq()->m_samplesPerTrial = samplesPerTrial;
    if (!driver_->_09CheckInitTrlChn(data_.get(), 0)) {
        error("the data set could not be prepared for monitoring");
        return false;
    }
    if (!driver_->AcqMonit(data_.get(), nullptr)) {
        error("monitoring did not start");
        return false;
    }
    started_ = true;
    return true;
}

bool Session::startRecord(const std::string& folder, const std::string& name, int trials, std::int64_t samples) {
    data_->m_recordFlag = 1;
    data_->m_recordFolder = CString(folder.c_str());
    data_->m_recordName = CString(name.c_str());
    data_->getMEGRecordInfozq()->m_trialCount = trials;
    data_->getMEGRecordInfozq()->m_samplesPerTrial = samples;
    if (!driver_->_09CheckInitTrlChn(data_.get(), 1)) {
        error("the data set could not be prepared for recording");
        return false;
    }
    if (!driver_->AcqRecord(data_.get(), nullptr)) {
        error("recording did not start");
        return false;
    }
    started_ = true;
    return true;
}

bool Session::acquiring() const {
    if (!started_) return false;
    int st = driver_->m_statusCode.load();
    return !(st == StatusCode::MonitoringEnded || st == StatusCode::RecordingEnded) && platform::runningThreads() > 0;
}

void Session::stop() {
    if (!started_) return;
    // The reading loop clears the stop flag when it starts, so a stop asked for
    // before that would be lost: ask again until the thread has ended. A
    // recording saves before its thread ends; allow for a large file.
    bool ended = false;
    for (int i = 0; i < 1200 && !ended; ++i) {
        driver_->AcqStop();
        ended = platform::joinAllThreads(100);
    }
    if (!ended) error("the acquisition thread did not end in time");
    started_ = false;
}

}  // namespace app
