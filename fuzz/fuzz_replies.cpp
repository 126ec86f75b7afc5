// Every reply parser of the dongle and the board probe, on arbitrary reply
// text. Input: byte 0 gives the number of operations (1..8), then one
// (operation, argument) byte pair each, then one byte of answers to Yes/No
// boxes (bit i answers the i-th box), then the replies, separated by 0xFF:
// each complete command the PC sends gets the next one. A reply that begins
// with 0xF8..0xFE is paced (that byte gone): one byte every 0.4..2.8 ms.
//
// Checked after every operation: a 0/1 result, the transient flags back at 0,
// channel, poll-time and baud fields only ever holding what a successful
// reply may set, and a bounded virtual time.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzDevice.h"
#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/msgbox.h"

namespace {

void check(bool ok, const char* what, int op) {
    if (!ok) {
        std::fprintf(stderr, "reply parsers (operation %d): %s\n", op, what);
        std::abort();
    }
}

enum Op {
    kGetChannel, kSetChannel, kOverride, kStatus, kPrintBytes, kGetPoll, kSetPoll, kBaud,
    kProbe, kBoardType, kAlign, kOpCount
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::useScratchProfile();
    if (size < 1) return 0;
    const std::size_t nOps = 1 + data[0] % 8;
    if (size < 2 + 2 * nOps) return 0;
    const std::uint8_t* ops = data + 1;
    const std::uint8_t answers = data[1 + 2 * nOps];
    std::vector<std::string> replies(1);
    for (std::size_t i = 2 + 2 * nOps; i < size; ++i) {
        if (data[i] == 0xFF) replies.emplace_back();
        else replies.back() += static_cast<char>(data[i]);
    }

    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes;
    for (int i = 0; i < 8; ++i) boxes.answer((answers >> i) & 1 ? IDYES : IDNO);
    fuzzsupport::ScopedFuzzPort port;
    fuzzsupport::FuzzDevice& dev = port.device();

    std::size_t next = 0;
    auto sendNext = [&] {
        if (next >= replies.size()) return;
        std::string r = replies[next++];
        std::int64_t byteUs = 0;
        if (!r.empty() && static_cast<std::uint8_t>(r[0]) >= 0xF8) {
            byteUs = (static_cast<std::uint8_t>(r[0]) - 0xF7) * 400;
            r.erase(0, 1);
        }
        const std::int64_t now = clock.get().nowUs() + 1000;
        if (byteUs == 0) dev.queue(r, now);
        else
            for (std::size_t i = 0; i < r.size(); ++i) dev.queue(r.substr(i, 1), now + byteUs * std::int64_t(i));
    };
    dev.onCommand = [&](const std::string&) { sendNext(); };

    CConfigComRadiozq dongle;
    dongle.m_portName = L"COM201";
    check(dongle.connect_to_portName(nullptr) == 1, "memory port did not open", -1);

    for (std::size_t i = 0; i < nOps; ++i) {
        const int op = ops[2 * i] % kOpCount;
        const std::uint8_t arg = ops[2 * i + 1];
        const std::uint8_t radio0 = dongle.m_radioChnl, host0 = dongle.m_hostChnl;
        const std::uint32_t baud0 = dongle.m_baudRate;
        const std::uint8_t poll0 = dongle.m_pollTime;
        const std::int64_t t0 = clock.get().nowUs();
        int r = 0;
        switch (op) {
        case kGetChannel: r = dongle.get_channelDeviceHost(nullptr); break;
        case kSetChannel: r = dongle.set_channelBoardDvc(nullptr, arg); break;
        case kOverride: r = dongle.set_channelHostOverrideDongle(nullptr, static_cast<std::int8_t>(arg)); break;
        case kStatus: r = dongle.system_status(nullptr); break;
        case kPrintBytes:
            // It sends nothing and reads what the dongle sent on its own.
            sendNext();
            r = dongle.print_bytes(nullptr);
            break;
        case kGetPoll: r = dongle.getRadioPolltime(0); break;
        case kSetPoll: r = dongle.setRadioPolltime(arg, 0); break;
        case kBaud: r = dongle.setHost2DriverBaudRate(nullptr, static_cast<std::int8_t>(arg)); break;
        case kProbe: r = dongle.findCheckOneComDevice(dongle.m_pSerialPort); break;
        case kBoardType: r = dongle.setMultiBoardType(arg & 0x80 ? static_cast<std::int8_t>(arg) : 6 + (arg & 1)); break;
        case kAlign: r = dongle.alignDeviceHostChannels(nullptr, arg); break;
        }
        const std::int64_t tookUs = clock.get().nowUs() - t0;

        check(r == 0 || r == 1, "result not 0 or 1", op);
        check(dongle.m_hostOverride == 0 && dongle.m_scanning == 0, "a transient flag stayed set", op);
        check(tookUs <= 15'000'000, "an operation took too long", op);
        check(dongle.m_baudIndex <= 2, "baud index out of 0..2", op);
        check(dongle.m_baudRate == baud0 || (dongle.m_baudRate >= 115200 && dongle.m_baudRate <= 921600),
              "baud rate outside 115200..921600", op);
        if (op != kGetChannel && op != kAlign && op != kSetChannel)
            check(dongle.m_radioChnl == radio0, "radio channel changed by an operation that does not set it", op);
        if (op == kSetChannel)
            check(dongle.m_radioChnl == radio0 || (dongle.m_radioChnl >= 1 && dongle.m_radioChnl <= 25),
                  "radio channel set outside 1..25", op);
        if (op == kOverride)
            check(dongle.m_hostChnl == host0 || (dongle.m_hostChnl >= 1 && dongle.m_hostChnl <= 25),
                  "host channel set outside 1..25", op);
        if (op == kAlign && r == 1)
            check(dongle.m_radioChnl >= 1 && dongle.m_radioChnl <= 25, "aligned outside 1..25", op);
        if (op != kGetPoll && op != kSetPoll) check(dongle.m_pollTime == poll0, "poll time changed", op);
        if (op == kGetPoll) check(r == 0, "getRadioPolltime returned non-zero", op);
        if (op == kGetChannel && r == 0) check(dongle.m_confirmedChnl == -1, "failed read left a confirmed channel", op);
        if (op == kProbe || op == kBoardType) check(dongle.m_pSerialPort != nullptr, "the port object went away", op);
    }
    for (const std::wstring& t : boxes.texts()) check(!t.empty(), "an empty message box", -1);
    dongle.closeSerialPorts();
    return 0;
}
