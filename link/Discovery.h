// Finding the boards behind the dongles: which ports are dongles, and which
// dongle reaches which board, moving a silent dongle's radio to the channel
// its board sits on. The driver keeps the results and its state.
#pragma once

#include <vector>

#include "host/MegSerialPort.h"
#include "link/ConfigComRadiozq.h"

namespace discovery {

// A dongle shows itself as an FTDI device behind a COM port.
bool isDonglePort(const QSerialPortInfoPrivate& port);

// Opens a dongle on every port. A dongle whose board answers on the dongle's
// channel is kept at once; the others search the free radio channels for
// their board. Kept dongles go to found (open, defaults sent to their
// boards); the rest are named in the status log and deleted.
void findBoards(const CStringArray& ports, std::vector<CConfigComRadiozq*>& found);

}  // namespace discovery
