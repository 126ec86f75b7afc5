// The mbeeg-sim program end to end: two dongles served as pseudo-terminals,
// opened through the real serial backend, each streaming 250 packets a
// second, and its account of what the boards sent. This one runs in real time
// (about 2.5 s).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "host/MegSerialPort.h"
#include "platform/clock.h"
#include "sim/TruthFile.h"
#include "tests/support/ScriptedDevice.h"
#include "tests/support/SimProcess.h"

TEST(SimProgram, TwoBoardsStreamTwoHundredFiftyPacketsASecondOverPtys) {
    char dir[] = "/tmp/mbeeg-sim-program-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string truthPath = std::string(dir) + "/truth.txt";
    SimProcess sim({MBEEG_BINARY_DIR "/mbeeg-sim", "--boards", "2", "--seed", "3", "--truth", truthPath});
    std::vector<std::unique_ptr<CMegSerialPortzq>> ports;
    for (int k = 0; k < 2; ++k) {
        std::istringstream in(sim.line());
        std::string word, path;
        int index = -1;
        in >> word >> index >> path;
        ASSERT_EQ(word, "PORT");
        ASSERT_EQ(index, k);
        auto port = std::make_unique<CMegSerialPortzq>();
        ASSERT_EQ(port->openSynRW(CString(CStringA(path.c_str())), 1), 1) << port->lastError().GetString();
        ASSERT_EQ(port->setupCom4Eeg(115200), 1);
        ports.push_back(std::move(port));
    }
    CStringA reply;
    ASSERT_EQ(ports[1]->sendCmdGetRspst("v", reply, 500), 1);
    EXPECT_NE(reply.Find("OpenBCI"), -1) << reply.GetString();

    platform::Clock& clock = platform::clock();
    std::string bytes[2];
    std::int64_t first[2] = {-1, -1};
    for (auto& p : ports) ASSERT_EQ(p->writeSynCmdUc1('b'), 1);
    // Two seconds from each port's first byte.
    unsigned char buf[2048];
    const std::int64_t start = clock.nowUs();
    for (;;) {
        const std::int64_t now = clock.nowUs();
        bool done = true;
        for (int k = 0; k < 2; ++k) {
            if (first[k] >= 0 && now - first[k] >= 2'000'000) continue;
            done = false;
            int n = ports[k]->reads(buf, sizeof buf);
            if (n > 0 && first[k] < 0) first[k] = clock.nowUs();
            bytes[k].append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        }
        if (done) break;
        ASSERT_LT(now - start, 10'000'000) << "no stream";
    }
    for (auto& p : ports) p->writeSynCmdUc1('s');
    mbeeg::test::Split split[2] = {mbeeg::test::splitPackets(bytes[0]), mbeeg::test::splitPackets(bytes[1])};
    // The program writes the truth as it goes: what the PC saw is on disk soon
    // after, the program still running; and all of it once stopped.
    auto holdsSeen = [&](const std::vector<std::vector<sim::TruthRow>>& t) {
        return t.size() == 2 && t[0].size() >= split[0].packets.size() && t[1].size() >= split[1].packets.size();
    };
    const std::int64_t stopped = clock.nowUs();
    while (!holdsSeen(sim::readTruthFile(truthPath)) && clock.nowUs() - stopped < 1'000'000) clock.sleepUs(20'000);
    EXPECT_LT(clock.nowUs() - stopped, 1'000'000) << "truth not flushed while running";
    ports.clear();
    EXPECT_EQ(sim.stop(), 0);
    auto truth = sim::readTruthFile(truthPath);
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(holdsSeen(truth));
    for (int k = 0; k < 2; ++k) {
        const auto& s = split[k];
        const double perSecond = (s.packets.size() + (s.skipped ? 1 : 0)) / 2.0;
        EXPECT_NEAR(perSecond, 250, 2) << "port " << k;
        EXPECT_LT(s.skipped, 33u);
        const auto& rows = truth[k];
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i].index, i) << "port " << k;
            ASSERT_EQ(rows[i].dropped, 0);
            if (i >= s.packets.size()) continue;
            ASSERT_EQ(rows[i].sample, s.packets[i][1]) << "port " << k << " packet " << i;
            for (int ch = 0; ch < 8; ++ch) ASSERT_EQ(rows[i].counts[ch], mbeeg::test::counts(s.packets[i], ch)) << i;
        }
    }
}
