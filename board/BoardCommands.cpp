#include "board/BoardCommands.h"

#include "common/OptionTables.h"
#include "host/AcqFramework.h"
#include "platform/clock.h"

namespace board {
namespace {
constexpr unsigned char kOffLetters[16] = {'1', '2', '3', '4', '5', '6', '7', '8',
                                           'q', 'w', 'e', 'r', 't', 'y', 'u', 'i'};
constexpr unsigned char kOnLetters[16] = {'!', '@', '#', '$', '%', '^', '&', '*',
                                          'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I'};
}  // namespace

unsigned char offLetter(unsigned pin) { return kOffLetters[pin > 15 ? 15 : pin]; }
unsigned char onLetter(unsigned pin) { return kOnLetters[pin > 15 ? 15 : pin]; }

unsigned gainCodeOf(int gain) {
    switch (gain) {
        case 1: return 0;
        case 2: return 1;
        case 4: return 2;
        case 6: return 3;
        case 8: return 4;
        case 12: return 5;
        default: return 6;  // 24, and a gain not given
    }
}

unsigned inputTypeCodeOf(const CStringA& name) {
    if (name.IsEmpty()) return 0;
    for (unsigned k = 0; k < INPUT_TYPE_ROWS; ++k)
        if (name.CompareNoCase(g_inputTypeNames[k]) == 0) return k;
    return 0;
}

CStringA channelFrame(char letter, bool powerDown, unsigned gainCode, unsigned inputCode, bool bias, bool srb2,
                      bool srb1) {
    CStringA frame;
    frame.Format("x%c%c%i%i%c%c%cX", letter, powerDown ? '1' : '0', static_cast<int>(gainCode),
                 static_cast<int>(inputCode), '0' + (bias ? 1 : 0), '0' + (srb2 ? 1 : 0), '0' + (srb1 ? 1 : 0));
    return frame;
}

bool impedanceInputs(int mode, char& pos, char& neg) {
    switch (mode) {
        case 0: pos = '0'; neg = '0'; return true;
        case 1: pos = '1'; neg = '0'; return true;
        case 2: pos = '1'; neg = '1'; return true;
        default: return false;
    }
}

CStringA impedanceFrame(char letter, char pos, char neg) {
    CStringA frame;
    frame.Format("z%c%c%cZ", letter, pos, neg);
    return frame;
}

CStringA readReply(CMegSerialPortzq& port, const char* header, int waitMs) {
    CStringA text(header);
    Sleep(static_cast<DWORD>(waitMs));
    text += port.readSynWaitAll2StrA(kReadGapMs, kReadWaitMs);
    return text;
}

// What the board said before a frame belongs to no one; it must not be read
// as the answer to the frame.
void sendCommand(CMegSerialPortzq& port, const CStringA& frame) {
    port.purgeAll();
    CStringA ignored;
    port.sendCmdGetRspst(frame, ignored, kWriteWaitMs);
}

int writeFrame(CMegSerialPortzq& port, const CStringA& frame) {
    port.purgeAll();
    return port.writeSynWaitCmdC(frame.GetString(), frame.GetLength(), kWriteWaitMs);
}

Query oneByteQuery(unsigned char byte, const char* failure, const char* header, int waitMs) {
    return Query{{QueryWrite{{byte}, failure}}, header, waitMs, true};
}

bool runQuery(CMegSerialPortzq& port, const Query& q, bool reply, CStringA& text, CStringA& failure) {
    port.purgeAll();
    for (const QueryWrite& w : q.writes) {
        const int ok = w.bytes.size() == 1
                           ? port.writeCmdUc1(w.bytes[0], kWriteWaitMs)
                           : port.writeSynWaitCmdC(reinterpret_cast<const char*>(w.bytes.data()),
                                                   static_cast<int>(w.bytes.size()), kWriteWaitMs);
        if (!ok) {
            failure = w.failure;
            return false;
        }
    }
    if (reply) {
        if (q.reportPortName) CAcqDriver02Prcs::addInfoStatus(port.getPortName());
        text = readReply(port, q.header, q.waitMs);
        CAcqDriver02Prcs::addInfoStatus(CString(text));
    }
    return true;
}

}  // namespace board
