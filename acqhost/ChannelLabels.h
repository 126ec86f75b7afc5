// How a recording names its channels so that analysis tools type them
// without help: EDF+ labels are "<type> <name>", and electrode names are
// spelt the way the 10-05 position lists spell them.
#pragma once

#include <string>

namespace acqhost {

// "FP1" -> "Fp1", "CZ" -> "Cz", "FCZ" -> "FCz", "fpz" -> "Fpz": the case the
// standard montages use, whichever template the name came from. Names that
// are not 10-05 names (E17, FidNz, a user's label) are kept as they are.
std::string standardElectrodeName(const std::string& name);

// The BDF label of a channel of the given kind (GEOM_KIND_*) on board
// `board` (0-based, -1: none): "EEG Fp1", "MISC B2-AccUp", "MISC B1-Analog3",
// "Trigger", "MISC Marker". Accelerometer and analog channels carry their
// board, having no name of their own. EDF+ has no type for them, so they are
// MISC, which tools take for "not EEG"; the trigger channel keeps the bare
// name tools look for as their stimulus channel.
std::string typedChannelLabel(int kind, const std::string& name, int board);

}  // namespace acqhost
