#include "acqhost/ChannelLabels.h"

#include <cctype>

#include "host/AcqFramework.h"

namespace acqhost {

std::string standardElectrodeName(const std::string& name) {
    // Letters, then a number or "z": the shape of every 10-05 name.
    size_t letters = 0;
    while (letters < name.size() && std::isalpha(static_cast<unsigned char>(name[letters]))) ++letters;
    const std::string tail = name.substr(letters);
    const bool numbered = !tail.empty() && tail.find_first_not_of("0123456789") == std::string::npos;
    const bool midline = tail.empty() && letters >= 2 && (name.back() == 'z' || name.back() == 'Z');
    if (letters < 1 || letters > 4 || !(numbered || midline)) return name;
    std::string up;
    for (char c : name) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up.rfind("FID", 0) == 0) return name;  // fiducials of the nets keep theirs
    if (up.rfind("FP", 0) == 0) up[1] = 'p';
    if (midline) up.back() = 'z';
    return up;
}

std::string typedChannelLabel(int kind, const std::string& name, int board) {
    const std::string onBoard = board >= 0 ? "B" + std::to_string(board + 1) + "-" + name : name;
    switch (kind) {
        case GEOM_KIND_EEG: return "EEG " + standardElectrodeName(name);
        case GEOM_KIND_ACCEL:
        case GEOM_KIND_ANALOG: return "MISC " + onBoard;
        case GEOM_KIND_TRIGGER: return name;
        default: return "MISC " + name;
    }
}

}  // namespace acqhost
