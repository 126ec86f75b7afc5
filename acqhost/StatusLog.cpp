// The host's status view: lines from any thread go to the program's sink and
// into a bounded log that tests read back.
#include <deque>
#include <mutex>

#include "host/AcqFramework.h"

namespace {

constexpr size_t kMaxLines = 10000;

struct StatusState {
    std::mutex mutex;
    std::deque<CString> lines;
    std::function<void(const CString&)> sink;
    CString info, err, sns;
    // Held while the sink runs so that a program sees lines one at a time;
    // recursive so a sink may itself log.
    std::recursive_mutex sinkMutex;
    std::atomic<bool> searchBkgrnd{false};
};

StatusState& state() {
    static StatusState s;
    return s;
}

}  // namespace

namespace acqhost {

void setStatusSink(std::function<void(const CString&)> sink) {
    std::lock_guard<std::recursive_mutex> callLock(state().sinkMutex);
    std::lock_guard<std::mutex> lock(state().mutex);
    state().sink = std::move(sink);
}

std::vector<CString> statusLines() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return {state().lines.begin(), state().lines.end()};
}

void clearStatusLines() {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().lines.clear();
}

CString infoStatus() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().info;
}

CString infoErr() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().err;
}

CString snsData() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().sns;
}

void setSearchHdwrBkgrnd(bool on) { state().searchBkgrnd = on; }

}  // namespace acqhost

void CAcqDriver02Prcs::addInfoStatus(const CString& text) {
    StatusState& s = state();
    std::function<void(const CString&)> sink;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lines.push_back(text);
        while (s.lines.size() > kMaxLines) s.lines.pop_front();
        sink = s.sink;
    }
    if (sink) {
        std::lock_guard<std::recursive_mutex> callLock(s.sinkMutex);
        sink(text);
    }
}

void CAcqDriver02Prcs::setInfoStatus(const CString& text) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().info = text;
}

void CAcqDriver02Prcs::setInfoErr(const CString& text) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().err = text;
}

void CAcqDriver02Prcs::setSnsData(const CString& text) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().sns = text;
}

bool CAcqDriver02Prcs::isSearchHdwrBkgrnd() { return state().searchBkgrnd.load(); }
