#include "app/BdfSummary.h"

#include <edflib.h>

#include "app/Console.h"
#include "app/Output.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

namespace app {
namespace {
const char* edfError(int code) {
    switch (code) {
        case EDFLIB_MALLOC_ERROR: return "out of memory";
        case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY: return "no such file";
        case EDFLIB_FILE_CONTAINS_FORMAT_ERRORS: return "not a valid EDF/BDF file";
        case EDFLIB_MAXFILES_REACHED: return "too many open files";
        case EDFLIB_FILE_READ_ERROR: return "read error";
        case EDFLIB_FILE_ALREADY_OPENED: return "file already open";
        case EDFLIB_FILETYPE_ERROR: return "unknown file type";
        case EDFLIB_FILE_WRITE_ERROR: return "write error";
        case EDFLIB_NUMBER_OF_SIGNALS_INVALID: return "invalid number of signals";
        case EDFLIB_FILE_IS_DISCONTINUOUS: return "discontinuous file";
        case EDFLIB_INVALID_READ_ANNOTS_VALUE: return "invalid annotations";
        default: return "cannot be read";
    }
}
// EDF header fields come padded with blanks.
std::string trimmed(const char* field) {
    std::string s = field;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}
}  // namespace

bool printBdfSummary(const std::string& path, std::string& error) {
    edf_hdr_struct hdr{};
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) < 0) {
        error = path + ": " + edfError(hdr.filetype);
        return false;
    }
    int h = hdr.handle;
    double duration = static_cast<double>(hdr.file_duration) / EDFLIB_TIME_DIMENSION;
    const bool json = console().json;
    std::vector<std::string> signals;
    if (!json) {
        std::printf("%s: %d channels, %.3f s, %lld annotations\n", path.c_str(), hdr.edfsignals, duration,
                    hdr.annotations_in_file);
        std::printf("  %-16s %-8s %10s %10s %14s %14s\n", "channel", "unit", "rate_Hz", "samples", "min", "max");
    }
    std::vector<double> buf(4096);
    for (int s = 0; s < hdr.edfsignals; ++s) {
        const auto& sp = hdr.signalparam[s];
        double rate = sp.smp_in_datarecord * static_cast<double>(EDFLIB_TIME_DIMENSION) /
                      static_cast<double>(hdr.datarecord_duration);
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        edfrewind(h, s);
        for (long long left = sp.smp_in_file; left > 0;) {
            int n = static_cast<int>(std::min<long long>(left, static_cast<long long>(buf.size())));
            int got = edfread_physical_samples(h, s, n, buf.data());
            if (got <= 0) break;
            for (int i = 0; i < got; ++i) {
                lo = std::min(lo, buf[static_cast<size_t>(i)]);
                hi = std::max(hi, buf[static_cast<size_t>(i)]);
            }
            left -= got;
        }
        if (sp.smp_in_file == 0) lo = hi = 0;
        if (json)
            signals.push_back(JsonObject()
                                  .add("label", trimmed(sp.label))
                                  .add("unit", trimmed(sp.physdimension))
                                  .add("rate", rate)
                                  .add("samples", sp.smp_in_file)
                                  .add("min", lo)
                                  .add("max", hi)
                                  .str());
        else
            std::printf("  %-16s %-8s %10.3f %10lld %14.3f %14.3f\n", sp.label, sp.physdimension, rate,
                        sp.smp_in_file, lo, hi);
    }
    if (json) {
        std::vector<std::string> notes;
        for (long long i = 0; i < hdr.annotations_in_file; ++i) {
            edf_annotation_struct a{};
            if (edf_get_annotation(h, static_cast<int>(i), &a) != 0) break;
            notes.push_back(JsonObject()
                                .add("onset", static_cast<double>(a.onset) / EDFLIB_TIME_DIMENSION)
                                .add("duration", trimmed(a.duration))
                                .add("text", trimmed(a.annotation))
                                .str());
        }
        printJson(JsonObject()
                      .add("file", path)
                      .add("channels", hdr.edfsignals)
                      .add("seconds", duration)
                      .addRaw("annotations", jsonArray(notes))
                      .addRaw("signals", jsonArray(signals))
                      .str());
    }
    edfclose_file(h);
    return true;
}
}  // namespace app
