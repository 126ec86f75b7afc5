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

// What a search noticed that the person at the boards must hear of: ports
// left out and boards that share a radio channel, one line each.
struct Findings {
    std::vector<CString> notes;
    // Two boards on one radio channel: each dongle there hears both, and one
    // radio frame moves both. Only `assignChannels` can part them.
    bool sharedChannel = false;
};

// Opens a dongle on every port. A dongle whose board answers on the dongle's
// channel is kept at once; the others search the free radio channels for
// their board. Kept dongles go to found (open, defaults sent to their
// boards); the rest are named in the findings (and the status log) and
// deleted. A port that gives no byte at all to the first radio frame holds
// no dongle and is not searched.
void findBoards(const CStringArray& ports, std::vector<CConfigComRadiozq*>& found, Findings* findings = nullptr);

// The person at the boards, asked to switch them: step -1 every board off,
// step k (0 .. ports-1) only the board of dongle k on, step `ports` every
// board on. False when the person gives up.
class AssignGuide {
public:
    virtual ~AssignGuide() = default;
    virtual bool boardsFor(int step, int ports, const CString& port) = 0;
    // One line of what came of a step, as it comes.
    virtual void told(const CString& /*line*/) {}
};

// Gives every board its own radio channel, one board at a time: with only
// that board switched on, its dongle finds it on whatever channel it sits and
// moves both to a channel no other dongle was given, so no radio frame can
// reach two boards. Returns the channel given to each port (0: none), with a
// line per port in `lines`.
std::vector<int> assignChannels(const CStringArray& ports, AssignGuide& guide, std::vector<CString>& lines);

}  // namespace discovery
