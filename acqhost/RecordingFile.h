// The BDF+ file of one recording of a data set: opened when the first row
// arrives, grown by a background thread one data record at a time as soon as
// every channel has the record's rows, finished (rest of the rows,
// annotations, sidecar, final name) by saveDataset4Record. The same object
// writes a whole data set in one go when nothing followed the recording.
//
// Which rows may be read: the reading loop writes a row's values into every
// channel before it records the row as the channel's last sample, so rows at
// or below every fed channel's last-sample index (read with acquire) are
// complete and no longer written to. Channels nobody feeds keep -1 and are
// written as they are.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acqhost/BdfWriter.h"
#include "acqhost/RecordingSidecar.h"
#include "host/AcqFramework.h"

namespace acqhost {

// A sample row was delivered by some reading loop (the driver base's
// setSmp4StimTrg): wakes the writers that wait for rows.
void rowDelivered();
// Wakes every waiting writer (an acquisition ended).
void wakeRecordingFiles();

class RecordingFile {
public:
    // Told (once, from the writer's thread or the saving one) when writing
    // failed; `why` names the target and the reason.
    using FailureHandler = std::function<void(const std::string& why)>;

    RecordingFile(CMeAcqData09File& data, FailureHandler onFailure);
    // Stops following; a file not finished is closed where it is.
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    // Starts the background writer.
    void follow();
    void stopFollowing();
    // Appends every data record whose rows are all acquired, opening the file
    // at the first row. False once writing has failed.
    bool writeCompleted();
    // Appends the rest (the last record padded), closes, checks the file,
    // writes the sidecar and puts both in place. Call after stopFollowing.
    bool finish();

    bool failed() const { return m_failed.load(); }
    std::string error() const;
    std::string livePath() const;
    std::string partialPath() const;
    std::string savedPath() const;

private:
    void run();
    bool fail(const std::string& why);
    bool resolveTarget();
    bool prepare();
    bool openFile(std::int64_t rows, std::int64_t knownNotes, std::int64_t knownRecords);
    std::int64_t availableRows() const;
    // Rows of the final save: trials before the last one that holds samples
    // count whole; sets lastTrial (-1 when nothing was recorded).
    std::int64_t finalRows(int& lastTrial) const;
    bool appendUpTo(std::int64_t upTo, std::int64_t rowsWithData);
    // The notes of the first `rows` rows; complete: the recording ended (all
    // user notes and the triggers are in).
    std::vector<SidecarAnnotation> notesFor(std::int64_t rows, std::int64_t padded, bool complete) const;
    void writeNotes(const std::vector<SidecarAnnotation>& notes);
    // A write failed: close what was written (readable) and tell.
    bool writeFailure();
    std::int64_t rowsToNextRecord() const;

    CMeAcqData09File& m_data;
    FailureHandler m_onFailure;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};

    mutable std::mutex m_mutex;  // guards the texts below
    std::string m_error, m_live, m_partial, m_saved;

    // Used by one thread at a time: the writer while following, then the
    // one that finishes.
    BdfWriter m_writer;
    bool m_opened = false;
    bool m_done = false;
    std::filesystem::path m_target, m_folder, m_sidecar, m_livePath;
    BdfRecordLayout m_layout;
    double m_rate = 0;
    std::int64_t m_S = 0;
    int m_trials = 0;
    int m_channels = 0;
    int m_slots = 1;
    int m_timeChannel = -1;
    int m_markerChannel = -1;
    std::size_t m_nextMarker = 0;  // markers before it are in the file
    double m_t0 = 0;
    std::time_t m_start = 0;
    std::vector<BdfSignal> m_signals;
    std::vector<std::string> m_names;
    std::vector<std::unique_ptr<CMeAcgChannelzq>> m_described;  // what each channel is, without samples
    std::vector<std::string> m_typed;  // with their EDF+ type, before the header's limits
    std::int64_t m_written = 0;  // rows in the file, whole records
    std::vector<double> m_buf, m_last;
};

}  // namespace acqhost
