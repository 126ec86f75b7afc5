// The JSON file saved beside a recording: what the BDF+ header cannot hold
// (board links, electrode positions, the true sample rate, full annotation
// texts) in a form any tool reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace acqhost {

struct SidecarChannel {
    std::string label;  // as in the BDF header
    std::string name;   // as in the channel list
    std::string kind;   // "EEG", "Accelerometer", ...
    std::string unit;
    double physMin = 0, physMax = 0;
    int digMin = 0, digMax = 0;
    std::optional<int> board, pin;
    std::optional<int> gain;  // EEG: the amplifier gain the counts were taken at
    std::optional<std::string> port;
    std::optional<double> x, y, z;  // electrode position
};

struct SidecarBoard {
    int board = 0;
    std::string port;
    int radioChannel = 0;
    std::uint64_t rows = 0, packets = 0, lost = 0, rejected = 0;
    std::uint64_t driftHeld = 0, driftDropped = 0, reconnects = 0;
};

struct SidecarAnnotation {
    double onset = 0;  // seconds from the first sample
    std::string text;
    std::string source;  // "trial", "user", "trigger", "padding"
};

struct RecordingDescription {
    std::string file;  // the BDF file's name, without folder
    std::string subject, session, note;
    std::string electrodeFrame, electrodeUnit;
    std::string startTime;  // ISO 8601, local time
    double sampleRate = 0;
    double headerSampleRate = 0;
    int trials = 0;         // trials of the data set
    int trialsWritten = 0;  // trials that hold samples
    std::int64_t samplesPerTrial = 0;
    std::int64_t samples = 0;  // recorded samples per channel in the file
    int recordSamples = 0;
    double recordSeconds = 0;
    std::int64_t paddedSamples = 0;
    std::int64_t annotationsNotInBdf = 0;
    std::vector<SidecarChannel> channels;
    std::vector<SidecarBoard> boards;
    std::vector<SidecarAnnotation> annotations;
};

std::string sidecarJson(const RecordingDescription& d);
// Writes and flushes the file; false with the reason in `error`.
bool writeSidecar(const std::string& path, const RecordingDescription& d, std::string& error);

}  // namespace acqhost
