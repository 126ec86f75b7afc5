// What the window asks of the parts that mark a recording and measure
// electrodes: the command-line program's own, so both programs agree.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "app/BoardWatch.h"
#include "app/Impedance.h"
#include "app/Session.h"

namespace view {

class ViewHooks {
public:
    virtual ~ViewHooks() = default;
    // A marker at `row` of the running acquisition: a code in the Marker
    // channel and an annotation, as a key typed in `mbeeg record` gives.
    virtual void mark(CMeAcqDatazq& data, std::int64_t row, double rate, const std::string& text) {
        data.addMarker(row, 1);
        data.addAnnotation(static_cast<double>(row) / rate, CString(text.c_str()));
    }
    // Electrode impedance in kΩ per EEG channel in the data set's order (NaN:
    // not known); runs off the window's thread, never while acquiring.
    // `report` says what was done.
    virtual std::vector<double> measureImpedance(app::Session& s, std::string& report) {
        std::vector<app::ElectrodeImpedance> got;
        const int status = app::measureImpedance(s, app::ImpedanceArgs{}, got);
        std::vector<double> kOhm;
        int known = 0;
        for (const auto& e : got) {
            kOhm.push_back(e.kOhm);
            known += std::isfinite(e.kOhm) ? 1 : 0;
        }
        report = status == app::kExitOk || status == app::kExitBoardLost
                     ? "impedance measured on " + std::to_string(known) + " of " + std::to_string(got.size()) +
                           " electrodes"
                     : "impedance measurement failed";
        return kOhm;
    }
    // Just before a recording is prepared, with what the user typed.
    virtual void beforeRecord(CMeAcqDatazq& data, const std::string& subject) { data.m_subject = subject; }
};

}  // namespace view
