// What goes to a board and how its answer is read: the command frames, the
// pin letters, and the query transaction on one dongle's port. No driver
// state: the driver's stages decide which ports, these do the bytes.
#pragma once

#include <vector>

#include "host/MegSerialPort.h"
#include "platform/afxstr.h"

namespace board {

// Waits of a board exchange, in ms. A write is given 160 ms to leave the
// dongle; a board answers its command within one 16 ms USB latency period,
// and the answer is read until 4 ms pass without a byte (16 ms at most for
// the first one).
constexpr int kWriteWaitMs = 160;
constexpr int kReplyWaitMs = 16;
constexpr int kReadGapMs = 4;
constexpr int kReadWaitMs = 16;

// Letters that turn a pin off ("1".."8", then the Daisy pins) and on.
unsigned char offLetter(unsigned pin);
unsigned char onLetter(unsigned pin);

// Gain code of a gain value (0 or unknown: the code of 24).
unsigned gainCodeOf(int gain);
// Input type code of its name, case-insensitive (unknown: "Normal", 0).
unsigned inputTypeCodeOf(const CStringA& name);

// "x<letter><power><gain><input><bias><srb2><srb1>X"
CStringA channelFrame(char letter, bool powerDown, unsigned gainCode, unsigned inputCode, bool bias, bool srb2,
                      bool srb1);
// "z<letter><p><n>Z"; modes 0..2 give the current on neither, P, or P and N.
bool impedanceInputs(int mode, char& pos, char& neg);
CStringA impedanceFrame(char letter, char pos, char neg);

// Reads what the board answered after its reply time, prefixed with header.
CStringA readReply(CMegSerialPortzq& port, const char* header, int waitMs = kReplyWaitMs);

// Purge the port, then send a frame: as a command that may answer
// (sendCommand) or as bytes alone (writeFrame, whose result it returns).
void sendCommand(CMegSerialPortzq& port, const CStringA& frame);
int writeFrame(CMegSerialPortzq& port, const CStringA& frame);

// A query to every board: its writes (one byte by itself, longer ones in one
// write), the header of its answer and how long the board takes.
struct QueryWrite {
    std::vector<unsigned char> bytes;
    const char* failure;  // what a failed write ends the whole query with
};
struct Query {
    std::vector<QueryWrite> writes;
    const char* header;
    int waitMs = kReplyWaitMs;
    bool reportPortName = true;
};
Query oneByteQuery(unsigned char byte, const char* failure, const char* header, int waitMs = kReplyWaitMs);

// One board's part of a query: purge, write, and (reply) read the answer into
// text. False with failure set when a write fails.
bool runQuery(CMegSerialPortzq& port, const Query& q, bool reply, CStringA& text, CStringA& failure);

}  // namespace board
