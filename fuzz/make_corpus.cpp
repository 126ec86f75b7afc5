// Writes the seed corpora of the fuzz targets from the simulator's own output:
// stream bytes of a simulated board (plain, with lost packets, garbage and
// every footer), and the replies of a simulated dongle and board to each
// radio operation and probe, and the answered bytes of the golden transcripts
// in tests/data. Usage: fuzz_make_corpus <corpus folder>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host/MegSerialPort.h"
#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/profile.h"
#include "sim/SimRig.h"
#include "tests/support/Transcript.h"

namespace {

std::string g_root;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
    const std::string dir = g_root + "/" + target;
    ::mkdir(g_root.c_str(), 0755);
    ::mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
}

std::string readFor(CMegSerialPortzq& port, std::int64_t us) {
    std::string got;
    const std::int64_t end = platform::clock().nowUs() + us;
    unsigned char buf[512];
    while (platform::clock().nowUs() < end) {
        const int n = port.reads(buf, sizeof buf);
        got.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
    }
    return got;
}

// 0.2 s of stream from a fresh one-board rig.
std::string streamBytes(sim::SimConfig cfg, const std::string& before = "") {
    platform::ScopedVirtualClock clock;
    sim::SimRig rig(cfg);
    rig.plugIn();
    CMegSerialPortzq port(CString(rig.portName(0).c_str()), 115200);
    port.openRW(CString(rig.portName(0).c_str()), 1, 1);
    CStringA reply;
    for (char c : before) port.sendCmdGetRspst(CStringA(std::string(1, c)), reply, 100);
    port.writeSynCmdUc1('b');
    std::string bytes = readFor(port, 200'000);
    port.writeSynCmdUc1('s');
    port.closeCom(0);
    return bytes;
}

void streamSeeds() {
    sim::SimConfig plain;
    const std::string s = streamBytes(plain);
    put("stream", "plain", std::string(1, '\0') + s);
    // The same bytes in uneven reads with pauses, some past the packet bound.
    put("stream", "split", std::string("\x04\x07\x20\xe0\x1f", 5) + s);
    put("stream", "bytewise", std::string("\x01\x00", 2) + s.substr(0, 200));
    put("stream", "midpacket", std::string(1, '\0') + s.substr(17, 400));

    sim::SimConfig lossy;
    lossy.board.dropRate = 0.2;
    lossy.dongle.garbageRate = 0.3;
    lossy.dongle.garbageBytes = 9;
    put("stream", "lossy-garbage", std::string(1, '\0') + streamBytes(lossy));

    sim::SimConfig footers;
    footers.board.footers = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6};
    put("stream", "footers", std::string(1, '\0') + streamBytes(footers));
}

// What the rig's dongle and board answered to each operation, as the reply
// target reads its input: one operation, its argument, the box answers, the reply.
void replySeeds() {
    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes(IDYES);
    sim::SimConfig cfg;
    sim::SimRig rig(cfg);
    rig.plugIn();
    CConfigComRadiozq dongle;
    dongle.m_portName = CString(rig.portName(0).c_str());
    dongle.connect_to_portName(nullptr);

    std::string all;
    int count = 0;
    auto seed = [&](const char* name, int op, int arg, const std::string& reply) {
        put("replies", name, std::string{'\0', static_cast<char>(op), static_cast<char>(arg), '\x55'} + reply);
        if (count < 8) all += std::string{static_cast<char>(op), static_cast<char>(arg)};
        ++count;
    };
    std::vector<std::string> replies;
    auto last = [&] {
        replies.push_back(dongle.m_lastReply.str());
        return replies.back();
    };
    dongle.get_channelDeviceHost(nullptr);
    seed("get-channel", 0, 0, last());
    dongle.set_channelBoardDvc(nullptr, 7);
    seed("set-channel", 1, 7, last());
    dongle.set_channelHostOverrideDongle(nullptr, 9);
    seed("override", 2, 9, last());
    dongle.system_status(nullptr);
    seed("status-down", 3, 0, last());
    dongle.set_channelHostOverrideDongle(nullptr, 7);
    dongle.system_status(nullptr);
    seed("status-up", 3, 0, last());
    seed("print-bytes", 4, 0, last());
    dongle.getRadioPolltime(0);
    seed("get-poll", 5, 0, last());
    dongle.setRadioPolltime(50, 0);
    seed("set-poll", 6, 50, last());

    // The board's answers to the probe and the board-type commands.
    CStringA d, v, c;
    dongle.m_pSerialPort->sendCmdGetRspst("d", d, 200);
    dongle.m_pSerialPort->sendCmdGetRspst("v", v, 500);
    dongle.m_pSerialPort->sendCmdGetRspst("C", c, 200);
    seed("probe-defaults", 8, 0, d.str());
    seed("probe-version", 8, 0, std::string("\xFF", 1) + v.str());
    seed("board-daisy", 9, 1, c.str());
    rig.board(0).powerOff();
    dongle.m_pSerialPort->sendCmdGetRspst("v", v, 500);
    seed("probe-timeout", 8, 0, std::string("\xFF", 1) + v.str());
    dongle.alignDeviceHostChannels(nullptr, 12);
    seed("align-timeout", 10, 12, last());
    // Last: the dongle then talks at a rate the PC port is not set to.
    dongle.setHost2DriverBaudRate(nullptr, 1);
    seed("baud", 7, 1, last());
    dongle.closeSerialPorts();

    std::string body;
    for (std::size_t i = 0; i < replies.size(); ++i) body += (i ? "\xFF" : "") + replies[i];
    put("replies", "sequence", std::string(1, '\x07') + all.substr(0, 16) + '\x55' + body);
}

// The transcripts' answers: each radio or probe case as one operation of the
// reply target (one reply per command written), each stream as it came.
void transcriptSeeds() {
    const std::string data = MBEEG_SOURCE_DIR "/tests/data";
    const std::vector<std::pair<std::string, int>> ops = {
        {"get_channel", 0}, {"set_channel", 1}, {"override", 2}, {"status", 3}, {"print_bytes", 4},
        {"get_poll", 5},    {"set_poll", 6},    {"baud", 7},     {"probe", 8},  {"align", 10}};
    int n = 0;
    for (const char* family : {"radio", "board"}) {
        for (const auto& t : mbeeg::test::loadTranscripts(data, family)) {
            int op = -1;
            for (const auto& [name, code] : ops)
                if (t.op.at(0) == name) op = code;
            if (op < 0) continue;
            const int arg = t.op.size() > 1 ? std::stoi(t.op[1]) : 0;
            const char yes = t.set.count("boxes") && t.set.at("boxes") == "yes" ? '\xFF' : '\0';
            std::string body;
            for (std::size_t i = 0; i < t.exchanges.size(); ++i) {
                if (i) body += '\xFF';
                for (const auto& a : t.exchanges[i].answers) body += a.second;
            }
            put("replies", "transcript-" + std::to_string(n++),
                std::string{'\0', static_cast<char>(op), static_cast<char>(arg), yes} + body);
        }
    }
    n = 0;
    for (const auto& t : mbeeg::test::loadTranscripts(data, "stream"))
        put("stream", "transcript-" + std::to_string(n++), std::string(1, '\0') + t.answers());
}

void gainSeeds() {
    put("gain", "cyton", std::string("\x00x1020000X\0x2050000Xx3160110X", 29));
    put("gain", "daisy-revert", std::string("\x05xQ060110X\0xI040000Xx1020000Xx1020000X", 38));
    put("gain", "invalid", std::string("\x00x1070000X\0xq060110X\0abx1050000Xzz\0x10200000X", 44));
}

void profileSeeds() {
    put("profile", "radio",
        "[XFaceZovAviComRadioSetting]\nPollTime=80\nRadioChnl=7\nSaveRadioChnl=1\n\n[Other]\nkey = -12\n");
    put("profile", "comments", "; settings\n# more\n[XFaceZovAviComRadioSetting]\n  RadioChnl = 2147483647 \r\n");
    put("profile", "corrupt", "[XFaceZovAviComRadioSetting\nRadioChnl\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    mbeeg::serial::setRealPortsEnabled(false);
    platform::setProfilePath("/tmp/mbeeg-corpus-profile.ini");
    streamSeeds();
    replySeeds();
    transcriptSeeds();
    gainSeeds();
    profileSeeds();
    std::remove("/tmp/mbeeg-corpus-profile.ini");
    return 0;
}
