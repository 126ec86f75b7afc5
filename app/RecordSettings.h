// What the user sets up for a run of `monitor` or `record`: the channels'
// amplifier settings and labels (--gain, --settings FILE), and who and what
// is recorded (--subject, --session, --note). Applied after discovery and
// before the stream starts, through the driver's own channel configuration,
// so the boards, the gain trackers (hence the microvolts) and the file agree.
#pragma once

#include <map>
#include <string>

namespace CLI {
class App;
}

namespace app {

class Session;

// One channel's settings; unset fields keep what the board has.
struct ChannelSetup {
    int powerDown = -1, gain = 0, bias = -1, srb2 = -1, srb1 = -1;
    std::string input, label;
};

struct RunSetup {
    int gain = 0;  // all channels; 0: left as discovery set them (24)
    std::string settingsPath;
    std::string subject, session, note;
    std::map<int, ChannelSetup> channels;  // by channel counted from 1, read from the file
};

// Adds --gain and --settings, and for a recording --subject, --session and --note.
void addRunSetupOptions(CLI::App* command, RunSetup& setup, bool recording);

// Reads a settings file into channels; "" or why it cannot be used. The
// format (INI, so that it is written by hand with comments):
//   [all]          settings for every channel
//   [channel 3]    settings for channel 3, counted from 1 across the boards
//   power = on|off   gain = 1|2|4|6|8|12|24   input = Normal|Shorted|...
//   bias = yes|no    srb2 = yes|no            srb1 = yes|no    label = Cz
std::string readChannelSettings(const std::string& text, std::map<int, ChannelSetup>& channels);

// What can be judged before discovery (the file, channels beyond what
// `maxChannels` boards can have); "" when fine.
std::string checkRunSetup(RunSetup& setup, int maxChannels);

// After discovery: sends every channel whose settings differ from the
// boards' defaults, tells the gain trackers, puts the labels and the
// subject data in place. 0, or the exit status after saying why not.
int applyRunSetup(Session& session, const RunSetup& setup);

}  // namespace app
