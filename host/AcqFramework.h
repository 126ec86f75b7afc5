// The host's acquisition framework as the driver library sees it: driver base,
// configuration, hardware information with its channel-geometry records and
// electrodes, and the acquisition data set with its trials and channels.
// Implemented in acqhost/ (recordings saved as BDF+ through EDFlib).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/AurexArray.h"
#include "common/ElectrodePos.h"
#include "platform/afxstr.h"

class CWnd;
class CDialog;
class CMeAcqTrialzq;

// 6: Cyton boards, 8 EEG channels each, 250 Hz; 7: Cyton with Daisy, 16 each,
// 125 Hz. Every other value is a layout this driver does not serve.
using DEVICE_LINK_TYPE = int;
constexpr DEVICE_LINK_TYPE LINK_TYPE_CYTON8 = 6;
constexpr DEVICE_LINK_TYPE LINK_TYPE_DAISY16 = 7;

// Channel-geometry kinds.
constexpr int GEOM_KIND_EEG = 2;
constexpr int GEOM_KIND_ACCEL = 5;
constexpr int GEOM_KIND_ANALOG = 6;
// The host's six trailer channels appended by addTsrx2chnGem, in this order:
// "Trigger" (the trigger channel), "TimeStamp" (host time in ms, one value
// per sample row), "Event", "Response", "Marker", "Reserved".
constexpr int GEOM_KIND_TRIGGER = 10;
constexpr int GEOM_KIND_TIMESTAMP = 11;
constexpr int GEOM_KIND_TRAILER = 12;  // Event, Response, Marker, Reserved
constexpr int TRAILER_CHANNELS = 6;
constexpr int TRAILER_TRIGGER = 0;    // offset within the trailer
constexpr int TRAILER_TIMESTAMP = 1;  // offset within the trailer

// ---------------------------------------------------------------- configuration
class CHdwrConfigzq {
public:
    DEVICE_LINK_TYPE m_linkType = LINK_TYPE_CYTON8;
    CString m_name;            // the configuration's name text
    int m_statusCounter1 = 0;  // the two status counters a search clears
    int m_statusCounter2 = 0;
    CHdwrConfigzq& operator=(const CHdwrConfigzq&) = default;
};

// ---------------------------------------------------------------- electrodes and geometry
class CEEGelectrode {
public:
    CString m_name;
    double m_x = 0, m_y = 0, m_z = 0;
    int m_kind = 0;
    int m_kindCode = 0;
    CString m_portText;    // the dongle's port
    CString m_boardLabel;  // "CytonBoard1", ...
    int m_boardIndex = 0;
    int m_pin = 0;
    int m_chnNumber = 0;
    // Copies name and position from a template row.
    void setAcqElcParam(const ELCTD_POS_NAME_PXYZ* row);
};

class CAcqChnlGeomzq {
public:
    CAcqChnlGeomzq(const CString& name, int kind, int flag);
    ~CAcqChnlGeomzq();
    CAcqChnlGeomzq(const CAcqChnlGeomzq&) = delete;
    CAcqChnlGeomzq& operator=(const CAcqChnlGeomzq&) = delete;

    CString getGeom2ChnlName() const { return m_name; }
    // "EEG", "Accelerometer", "Analog", "Trigger", "TimeStamp", "Trailer", "Unknown"
    CString getGeomTypeName() const;
    CEEGelectrode* getElectrode() const { return m_pElectrode; }

    // The hardware parameter block, owned by the record (freed with deleter).
    void setHdwrParam(void* block, int kind, int size, void (*deleter)(void*));
    void* getHdwrParam() const { return m_pHdwrParam; }

    CString m_name;
    int m_kind = 0;
    int m_flag = 0;                         // third argument of makeChnGeom
    CEEGelectrode* m_pElectrode = nullptr;  // owned; made for EEG records
    int m_axis = 0;                         // accelerometer axis 1..3
    int m_boardIndex = -1;                  // board of a channel without an electrode
    int m_sensorCode = 0;
    int m_geomFlag = 1;  // the 32-bit flag cleared on analog channels
    void* m_pHdwrParam = nullptr;
    int m_hdwrParamKind = 0;
    int m_hdwrParamSize = 0;

private:
    void (*m_paramDeleter)(void*) = nullptr;
};

using ChnGeomList = CAurexArray<CAcqChnlGeomzq*>;

class CHardWareInfo {
public:
    CHardWareInfo();
    virtual ~CHardWareInfo();
    CHardWareInfo(const CHardWareInfo&) = default;
    CHardWareInfo& operator=(const CHardWareInfo&) = default;

    // A new record that the host owns. Records are kept per channel list (a
    // list ends with its trailer, addTsrx2chnGem); the records of the last
    // kKeptLists lists stay alive, older ones are freed, so rebuilding the
    // lists again and again does not grow memory. EEG records come with an
    // electrode.
    CAcqChnlGeomzq* makeChnGeom(const CString& name, int kind, int flag);
    int setup(CWnd* parent, CDialog* dlg);
    static constexpr int kKeptLists = 64;
    // Records alive in the pool (for tests).
    std::size_t liveRecords() const;

protected:
    // Closes the list being built: its records join the kept lists.
    void closeRecordList();

public:

    DEVICE_LINK_TYPE m_linkType = 0;
    CString m_deviceLabel;
    double m_sampleRate = 250.0;
    int m_curChnIndex = 0;
    ChnGeomList* m_pCurChnList = nullptr;
    int m_statusFlag = 0;  // set to 1 once hardware was detected

private:
    struct RecordPool;
    std::shared_ptr<RecordPool> m_records;
};

class CHardWareInfo02Process : public CHardWareInfo {
public:
    // Appends the six trailer channels (see GEOM_KIND_TRIGGER above).
    void addTsrx2chnGem(ChnGeomList& list);
};

class CHardWareInfozq : public CHardWareInfo02Process {};

// ---------------------------------------------------------------- data set
class CMeAcgChannelzq {
public:
    CMeAcgChannelzq(const CAcqChnlGeomzq& geom, std::int64_t samples);
    // A channel described like `shape` (label, kind, unit, range, board,
    // pin, port, position) with fresh storage of `samples` zeros.
    CMeAcgChannelzq(const CMeAcgChannelzq& shape, std::int64_t samples);
    ~CMeAcgChannelzq();
    CMeAcgChannelzq(const CMeAcgChannelzq&) = delete;
    CMeAcgChannelzq& operator=(const CMeAcgChannelzq&) = delete;

    bool isTriggerChannel() const { return m_kind == GEOM_KIND_TRIGGER; }
    bool isEEGChannel() const { return m_kind == GEOM_KIND_EEG; }
    bool isAcceleratChnl() const { return m_kind == GEOM_KIND_ACCEL; }
    bool isTimeStampChannel() const { return m_kind == GEOM_KIND_TIMESTAMP; }
    void setValueRange(double lo, double hi) { m_rangeMin = lo; m_rangeMax = hi; }

    CString m_label;
    int m_kind = 0;
    CString m_unit;  // "uV" for EEG by default
    double m_rangeMin = 0, m_rangeMax = 0;
    int m_boardIndex = -1;  // -1: no board (trailer channels)
    int m_pin = -1;
    CString m_portText;
    double m_elcX = 0, m_elcY = 0, m_elcZ = 0;
    std::int64_t m_samples = 0;
    double* m_pValues = nullptr;        // the samples: what files, views and readers take
    double* m_pValuesMirror = nullptr;  // the same samples again, for the trigger bookkeeping
    std::atomic<std::int64_t> m_lastSample{-1};  // index of the last sample written

    // Long arrays are address space that takes memory only where samples
    // are written; releaseBefore gives the memory of samples [0, upTo) back
    // (whole pages; they read as 0 afterwards, the addresses stay valid).
    // Short arrays stay as they are. Returns the samples given back.
    std::int64_t releaseBefore(std::int64_t upTo);
    // Bytes of sample memory the two arrays hold now.
    std::size_t residentBytes() const;

private:
    void allocate();
    std::size_t m_mapBytes = 0;  // per array; 0: on the heap
};

class CMeAcqTrialzq {
public:
    CMeAcqTrialzq(const ChnGeomList& list, std::int64_t samples);
    // The channels of `shape`, described alike, with fresh storage.
    CMeAcqTrialzq(const CMeAcqTrialzq& shape, std::int64_t samples);
    ~CMeAcqTrialzq();
    int getTotalChannel() const { return static_cast<int>(m_channels.size()); }
    std::int64_t getTotalSample(int which) const;
    CMeAcgChannelzq** getAllChannelPt() { return m_channels.data(); }
    CMeAcgChannelzq* getChannel(int i) const { return m_channels[static_cast<size_t>(i)]; }

private:
    std::vector<CMeAcgChannelzq*> m_channels;
    std::int64_t m_samples;
};

class CMEGRecordInfozq {
public:
    double m_sampleRate = 250.0;
    double m_sampleRate2 = 250.0;
    int m_trialCount = 1;
    std::int64_t m_samplesPerTrial = 250;
};

class CStimTrigzq {
public:
    struct Event {
        int trial;
        std::int64_t sample;
        int code;
    };
    std::vector<Event> m_events;
};

using ACQ_TRIAL_CALLBACK = int (*)(CMeAcqTrialzq*);

namespace acqhost {
class RecordingFile;
}

// The data set's acquisition status (m_acqStatus), written by the reading loop.
namespace AcqStatus {
enum : int {
    Idle = 0,
    Monitoring = 3,
    MonitoringEnded = 4,
    Recording = 5,
    RecordingEnded = 6,  // every trial full, or stopped; saving follows
    Saved = 8,
};
}

class CMeAcqData {
public:
    CMeAcqData();
    virtual ~CMeAcqData();
    CMeAcqData(const CMeAcqData&) = delete;
    CMeAcqData& operator=(const CMeAcqData&) = delete;

    // The first trial to fill (trial 0), or null before initialisation.
    // For a recording (record and the record flag set) the trials are
    // marked empty and the recording file starts following them.
    CMeAcqTrialzq* checkInitTrls4Acq(int record, int a, int b);
    int acqInitDataTrlChnlGeom4Monit(int trials, std::int64_t samples, ChnGeomList* list, ACQ_TRIAL_CALLBACK cb);
    int acqInitDataTrlChnlGeom4Record(const CString& folder, const CString& name, int trials, std::int64_t samples,
                                      ChnGeomList* list, ACQ_TRIAL_CALLBACK cb);
    int getTotalMEGChannel(bool a, bool b);
    CMEGRecordInfozq* getMEGRecordInfozq() { return &m_recordInfo; }
    // The trial at index, made current; null when there is none, and after
    // writing the recording file failed (so a loop that is not stopped
    // otherwise ends at the trial's end).
    CMeAcqTrialzq* switchTrl4Record(int index, int flag);
    // The trial at index, made when first reached (its storage with it);
    // null beyond the count and for a trial given back (see
    // m_releaseWritten).
    CMeAcqTrialzq* getTrial(int index);
    // The trial at index if it is made and not given back; makes nothing.
    CMeAcqTrialzq* peekTrial(int index) const;
    // The trial the reading loop fills (the last one switched to).
    int currentTrial() const { return m_curTrial.load(); }
    // Trials at the start given back whole (see m_releaseWritten).
    int releasedTrials() const;
    // The recording file has the first `rows` rows: with m_releaseWritten,
    // gives back their memory. Whole trials go when the loop has moved two
    // trials past them; in the oldest trial kept, the pages of rows written.
    void releaseWritten(std::int64_t rows);
    // For a reader besides the reading loop and the recording file (a live
    // view): while the returned lock is held nothing is given back, so the
    // trials it peeks stay whole; rows before releasedRows() are gone
    // already (they read as zeros or their trial is null).
    std::unique_lock<std::mutex> holdRows() const { return std::unique_lock<std::mutex>(m_holdMutex); }
    std::int64_t releasedRows() const { return m_releasedRows.load(); }
    // Bytes of sample memory held by the trials now.
    std::size_t sampleBytesHeld() const;
    void setAcqStimTrig2Data(CStimTrigzq* stim);
    int saveAllTrials();

    // What the saved recording tells about each board's link. A second call
    // for the same board replaces its entry. Kept across initialisations.
    // Every row of a board is one of: a packet it sent, a row held for a
    // packet the radio lost (or while the board was silent), or a row held
    // for clock drift; a packet dropped for drift reaches no row. So
    // rows == packets + lost + driftHeld - driftDropped.
    struct BoardInfo {
        int board = 0;
        CString port;
        int radioChannel = 0;
        std::uint64_t rows = 0;
        std::uint64_t packets = 0;       // in sequence, put into rows or dropped for drift
        std::uint64_t lost = 0;          // rows held: radio gaps and silence
        std::uint64_t rejected = 0;      // bad footer, cut, or out of sequence
        std::uint64_t driftHeld = 0;     // rows held on purpose for clock drift
        std::uint64_t driftDropped = 0;  // packets dropped on purpose for clock drift
        std::uint64_t reconnects = 0;
    };
    void addBoardInfo(const BoardInfo& info);
    std::vector<BoardInfo> boardInfos() const;
    // A note at `seconds` from the first sample (negative or non-finite: 0).
    // Cleared by the next initialisation. Safe from any thread.
    struct Annotation {
        double seconds = 0;
        CString text;
    };
    void addAnnotation(double seconds, const CString& text);
    std::vector<Annotation> annotations() const;
    const CStimTrigzq& stimEvents() const { return m_stim; }
    // One sample of a trial channel from the first (which=1) or second
    // (which=2) array; NaN when trial, channel or sample do not exist.
    double getSample(int trial, int channel, std::int64_t sample, int which = 1) const;
    // Samples a trial holds so far: the highest last-sample index of its
    // channels plus one (0 when nothing was written).
    std::int64_t filledSamples(int trial) const;
    // Why the last initialisation failed (empty after a success).
    CString lastInitError() const { return m_initError; }
    // Writing the recording file failed during this recording.
    bool recordingWriteFailed() const { return m_writeFailed.load(); }

    int m_trialCount = 0;
    int m_recordFlag = 0;                       // non-zero: recording
    // Give rows back once the recording file has them, so that a recording
    // of any length runs in bounded memory; the trials then no longer hold
    // what was recorded (the file does). Set before the acquisition starts.
    // While it is set, nothing but the reading loop and the recording file
    // may use a trial of a running recording, other readers only under
    // holdRows().
    bool m_releaseWritten = false;
    std::atomic<int> m_acqStatus{AcqStatus::Idle};
    std::atomic<std::int64_t> m_curSample{0};   // current sample count
    std::atomic<int> m_roundCounter{0};
    // Rows the reading loop has put out since the acquisition started, across
    // trials and rounds: one number a reader takes without racing a switch.
    std::atomic<std::int64_t> m_rowsOut{0};
    CString m_recordFolder;  // folder of the recording
    CString m_recordName;    // file name of the recording (".bdf" added when missing)

    // Wall-clock start of the recording (seconds since 1970) for the file
    // header; 0: the save time minus the recorded duration.
    std::int64_t m_recordStartUnix = 0;

protected:
    int initTrials(int trials, std::int64_t samples, ChnGeomList* list, ACQ_TRIAL_CALLBACK cb);
    // The recording file of the derived data set: stopped before the trials
    // are replaced or filled afresh, started when a recording is prepared.
    virtual void stopRecordingFile() {}
    virtual void startRecordingFile() {}

    CMEGRecordInfozq m_recordInfo;
    // Made when reached; the blueprint (never filled) describes them all.
    mutable std::mutex m_trialMutex;  // guards the three below
    std::vector<std::unique_ptr<CMeAcqTrialzq>> m_trials;
    std::unique_ptr<CMeAcqTrialzq> m_blueprint;
    int m_released = 0;  // leading trials given back
    mutable std::mutex m_holdMutex;  // taken before m_trialMutex, never after
    std::atomic<std::int64_t> m_releasedRows{0};
    std::int64_t m_trialSamples = 0;
    ACQ_TRIAL_CALLBACK m_trialCallback = nullptr;
    std::atomic<int> m_curTrial{0};
    CStimTrigzq m_stim;
    CString m_initError;
    mutable std::mutex m_infoMutex;  // guards the two lists below
    std::vector<BoardInfo> m_boards;
    std::vector<Annotation> m_annotations;
    std::atomic<bool> m_writeFailed{false};
};

class CMeAcqData09File : public CMeAcqData {
public:
    CMeAcqData09File();
    ~CMeAcqData09File() override;

    // Writes the data set as BDF+ (with a JSON sidecar) at folder/name.
    // 1 on success; on failure 0 and lastSaveError() says why.
    // What is written: trials in order up to the last one that received
    // samples, that one up to its last written sample; every EEG value keeps
    // its 24-bit count. See acqhost/BdfWriter.h for the record layout.
    //
    // While recording (from checkInitTrls4Acq on) a background writer
    // appends each data record to the file as soon as every channel has its
    // rows, so a recording survives a crash of the program. The file grows
    // under a name of its own beside the target, livePath() (for "rec.bdf"
    // "rec.partial.bdf", numbered when that exists), announced in the status
    // log; saveDataset4Record appends the rest and renames it to the target.
    // A name that exists is never replaced unless m_overwrite is set.
    //
    // A write that fails (disk full, file size limit) stops the recording:
    // the status log and lastSaveError() tell the target and the reason, the
    // stop request is called, and the file is closed, readable, with every
    // record written whole, under partialPath(). It never takes the target's
    // name. A file left by a killed program keeps its live name.
    int saveDataset4Record();
    CString lastSaveError() const { return m_saveError; }
    CString savedPath() const { return m_savedPath; }
    // The file growing now (empty when none).
    CString livePath() const;
    // Where what was written lies after a recording could not be finished.
    CString partialPath() const;
    // Called (from the writer's thread) when writing the recording fails;
    // a host sets it to stop its acquisition, e.g. the driver's AcqStop.
    void setStopRequest(std::function<void()> request);

    // Replace an existing file of the target's name.
    bool m_overwrite = false;
    // Who and what is recorded: the BDF+ header's patient code (subject),
    // admin code (session) and recording text (note), and the sidecar.
    std::string m_subject, m_session, m_note;
    // The frame and unit of the electrodes' positions, stated in the sidecar.
    std::string m_electrodeFrame, m_electrodeUnit;

    // A marker: `code` goes into the "Marker" channel at `row`, counted over
    // the trials (a row already in the file: the first one that is not).
    // Safe from any thread; cleared when a recording is prepared.
    struct Marker {
        std::int64_t row = 0;
        int code = 0;
    };
    void addMarker(std::int64_t row, int code);
    std::vector<Marker> markers() const;

protected:
    void stopRecordingFile() override;
    void startRecordingFile() override;

    CString m_saveError;
    CString m_savedPath;

private:
    void writeFailed(const std::string& why);

    mutable std::mutex m_fileMutex;  // guards the three below
    std::unique_ptr<acqhost::RecordingFile> m_file;
    CString m_partialPath;
    std::function<void()> m_stopRequest;
    mutable std::mutex m_markerMutex;
    std::vector<Marker> m_markers;
};

class CMeAcqDatazq : public CMeAcqData09File {};

// ---------------------------------------------------------------- driver base
class CStimTrigzq;

class CAcqDriver {
public:
    CAcqDriver();
    ~CAcqDriver();

    void setConfigUser(CHdwrConfigzq* cfg);
    // Makes the detected configuration from the user configuration when there
    // is none yet; non-zero when it exists and may be read.
    int checkInitConfigUserDetect(int create, int copy);
    // Host time in milliseconds, on the platform clock.
    std::int64_t getTimeStampMs();

    int m_busy = 0;
    unsigned int m_retryCount = 3;
    CString m_boardSummary;
    CHdwrConfigzq* m_pConfigUser = nullptr;
    CHdwrConfigzq* m_pConfigDetect = nullptr;  // owned by the base
    CStimTrigzq* m_pStimTrig = nullptr;        // owned by the base

private:
    std::unique_ptr<CHdwrConfigzq> m_detectOwned;
    std::unique_ptr<CStimTrigzq> m_stimOwned;
};

class CAcqDriver02Prcs : public CAcqDriver {
public:
    static void addInfoStatus(const CString& text);
    static void setInfoStatus(const CString& text);
    static void setInfoErr(const CString& text);
    static void setSnsData(const CString& text);
    static bool isSearchHdwrBkgrnd();

    void threadStartMonitRecordStiTrg();
    void threadStopMonitRecordStiTrg();
    int setTrlDataPts4StimTrg(int trial, int channel, double* second, double* first);
    void setSmp4StimTrg(std::int64_t sample);
    bool isStimTrigRunning() const { return m_stimRunning.load(); }
    std::int64_t stimSample() const { return m_stimSample.load(); }

protected:
    std::atomic<bool> m_stimRunning{false};
    int m_stimTrial = 0;
    int m_stimChannel = 0;
    double* m_pStimData1 = nullptr;
    double* m_pStimData2 = nullptr;
    std::atomic<std::int64_t> m_stimSample{0};
};

class CAcqDriver09File : public CAcqDriver02Prcs {};
class CAcqDriverzq : public CAcqDriver09File {};

// ---------------------------------------------------------------- host status view
namespace acqhost {
// Every line given to addInfoStatus goes to the sink (programs print it) and
// into a log that tests read.
void setStatusSink(std::function<void(const CString&)> sink);
std::vector<CString> statusLines();
void clearStatusLines();
// Texts last set by setInfoStatus / setInfoErr / setSnsData.
CString infoStatus();
CString infoErr();
CString snsData();
// What isSearchHdwrBkgrnd reports (false unless a program sets it).
void setSearchHdwrBkgrnd(bool on);
}  // namespace acqhost
