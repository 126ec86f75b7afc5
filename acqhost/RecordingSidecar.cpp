#include "acqhost/RecordingSidecar.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

namespace acqhost {

std::string sidecarJson(const RecordingDescription& d) {
    // Keys stay in the order written here, which reads better than sorted.
    using json = nlohmann::ordered_json;
    json channels = json::array();
    for (const auto& c : d.channels) {
        json j = {{"label", c.label},     {"name", c.name},         {"kind", c.kind},
                  {"unit", c.unit},       {"physical_min", c.physMin}, {"physical_max", c.physMax},
                  {"digital_min", c.digMin}, {"digital_max", c.digMax}};
        j["board"] = c.board ? json(*c.board) : json(nullptr);
        j["pin"] = c.pin ? json(*c.pin) : json(nullptr);
        if (c.gain) j["gain"] = *c.gain;
        j["port"] = c.port ? json(*c.port) : json(nullptr);
        j["electrode"] = c.x ? json{{"x", *c.x}, {"y", *c.y}, {"z", *c.z}} : json(nullptr);
        channels.push_back(std::move(j));
    }
    json boards = json::array();
    for (const auto& b : d.boards)
        boards.push_back({{"board", b.board},
                          {"port", b.port},
                          {"radio_channel", b.radioChannel},
                          {"rows", b.rows},
                          {"packets", b.packets},
                          {"lost", b.lost},
                          {"rejected", b.rejected},
                          {"drift_held", b.driftHeld},
                          {"drift_dropped", b.driftDropped},
                          {"reconnects", b.reconnects}});
    json annotations = json::array();
    for (const auto& a : d.annotations)
        annotations.push_back({{"onset", a.onset}, {"text", a.text}, {"source", a.source}});
    json root = {{"format", "BDF+"},
                 {"file", d.file},
                 {"subject", d.subject},
                 {"session", d.session},
                 {"note", d.note},
                 {"start_time", d.startTime},
                 {"sample_rate", d.sampleRate},
                 {"header_sample_rate", d.headerSampleRate},
                 {"trials", d.trials},
                 {"trials_written", d.trialsWritten},
                 {"samples_per_trial", d.samplesPerTrial},
                 {"samples", d.samples},
                 {"record_samples", d.recordSamples},
                 {"record_seconds", d.recordSeconds},
                 {"padded_samples", d.paddedSamples},
                 {"annotations_not_in_bdf", d.annotationsNotInBdf},
                 {"electrode_frame", d.electrodeFrame},
                 {"electrode_unit", d.electrodeUnit},
                 {"channels", std::move(channels)},
                 {"boards", std::move(boards)},
                 {"annotations", std::move(annotations)}};
    // Replacement keeps a stray invalid byte in a text from losing the file.
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool writeSidecar(const std::string& path, const RecordingDescription& d, std::string& error) {
    std::string text = sidecarJson(d);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    int savedErrno = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) error = std::string("writing failed: ") + std::strerror(savedErrno);
    return ok;
}

}  // namespace acqhost
