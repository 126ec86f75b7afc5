// What the window asks of the parts that mark a recording and measure
// electrodes. The defaults use what the library offers; a program with richer
// markers or impedance in kΩ passes its own.
#pragma once

#include <string>
#include <vector>

#include "driver/DriveOpnBciMutiBoardzq.h"

namespace view {

class ViewHooks {
public:
    virtual ~ViewHooks() = default;
    // A marker `seconds` after the first sample of the running acquisition.
    virtual void mark(CMeAcqDatazq& data, double seconds, const std::string& text) {
        data.addAnnotation(seconds, CString(text.c_str()));
    }
    // Electrode impedance in kΩ per EEG channel in the data set's order (NaN:
    // not known); runs off the window's thread, never while acquiring.
    // `report` says what was done.
    virtual std::vector<double> measureImpedance(CDriveOpnBciMutiBoardzq& drv, std::string& report) {
        drv.impedanceMeasureAllChnl(100, 0, 1);
        report = "impedance drive run on every channel";
        return {};
    }
    // Just before a recording is prepared, with what the user typed.
    virtual void beforeRecord(CMeAcqDatazq& data, const std::string& subject) {
        (void)data;
        (void)subject;
    }
};

}  // namespace view
