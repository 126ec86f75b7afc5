// Saving a recording: the data set's recording file follows the trials from
// the moment a recording is prepared and is finished by the save; a save with
// nothing following writes the whole data set at once. See RecordingFile.h.
#include <string>

#include "acqhost/RecordingFile.h"
#include "host/AcqFramework.h"

namespace {
CString wide(const std::string& s) { return CString(platform::widen(s)); }
}  // namespace

CMeAcqData09File::CMeAcqData09File() = default;

// The writer reads the trials: it goes before they do.
CMeAcqData09File::~CMeAcqData09File() { stopRecordingFile(); }

void CMeAcqData09File::stopRecordingFile() {
    std::unique_ptr<acqhost::RecordingFile> file;
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        file = std::move(m_file);
    }
    file.reset();  // joins the writer; an unfinished file is closed where it is
}

void CMeAcqData09File::addMarker(std::int64_t row, int code) {
    std::lock_guard<std::mutex> lock(m_markerMutex);
    m_markers.push_back({row, code});
}

std::vector<CMeAcqData09File::Marker> CMeAcqData09File::markers() const {
    std::lock_guard<std::mutex> lock(m_markerMutex);
    return m_markers;
}

void CMeAcqData09File::startRecordingFile() {
    {
        std::lock_guard<std::mutex> lock(m_markerMutex);
        m_markers.clear();
    }
    auto file = std::make_unique<acqhost::RecordingFile>(*this, [this](const std::string& why) { writeFailed(why); });
    file->follow();
    std::lock_guard<std::mutex> lock(m_fileMutex);
    m_file = std::move(file);
    m_partialPath.Empty();
}

void CMeAcqData09File::writeFailed(const std::string& why) {
    m_writeFailed = true;
    CAcqDriver02Prcs::addInfoStatus(wide("Recording stopped: " + why));
    std::function<void()> request;
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        request = m_stopRequest;
    }
    if (request) request();
}

void CMeAcqData09File::setStopRequest(std::function<void()> request) {
    std::lock_guard<std::mutex> lock(m_fileMutex);
    m_stopRequest = std::move(request);
}

CString CMeAcqData09File::livePath() const {
    std::lock_guard<std::mutex> lock(m_fileMutex);
    return m_file ? wide(m_file->livePath()) : CString();
}

CString CMeAcqData09File::partialPath() const {
    std::lock_guard<std::mutex> lock(m_fileMutex);
    if (m_file && !m_file->partialPath().empty()) return wide(m_file->partialPath());
    return m_partialPath;
}

int CMeAcqData09File::saveDataset4Record() {
    m_saveError.Empty();
    m_savedPath.Empty();
    std::unique_ptr<acqhost::RecordingFile> file;
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        file = std::move(m_file);
        m_partialPath.Empty();
    }
    if (!file) file = std::make_unique<acqhost::RecordingFile>(*this, nullptr);
    file->stopFollowing();
    const bool ok = file->finish();
    m_savedPath = wide(file->savedPath());
    if (!ok) {
        m_saveError = wide(file->error());  // the caller reports it
        std::lock_guard<std::mutex> lock(m_fileMutex);
        m_partialPath = wide(file->partialPath());
    }
    return ok ? 1 : 0;
}
