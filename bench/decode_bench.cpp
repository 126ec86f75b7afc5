// Decoding cost of readCytonData: a dongle whose memory port always has
// valid packets waiting, so the figure is the decoder plus the port's read
// path, with no waiting. Prints decode_ns_per_packet=<value> per run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "host/MegSerialPort.h"
#include "link/ConfigComRadiozq.h"
#include "serialport/Backend.h"

namespace {

// Hands out a fixed ring of valid packets, endlessly; no lock, one reader.
class PacketRing final : public mbeeg::serial::MemoryDevice {
public:
    explicit PacketRing(std::uint8_t footerCycle) {
        const int kPackets = 256;
        for (int k = 0; k < kPackets; ++k) {
            std::uint8_t p[33] = {};
            p[0] = 0xA0;
            p[1] = static_cast<std::uint8_t>(k);
            for (int i = 0; i < 24; ++i) p[2 + i] = static_cast<std::uint8_t>(k * 7 + i * 13);
            std::uint8_t footer = footerCycle ? static_cast<std::uint8_t>(0xC0 + k % 5) : 0xC0;
            p[26] = 0x01;
            p[27] = footer == 0xC3 || footer == 0xC4 ? "xXyYzZ"[k % 6] : static_cast<std::uint8_t>(k);
            p[28] = static_cast<std::uint8_t>(k + 1);
            p[29] = 0x12;
            p[30] = 0x34;
            p[31] = 0x56;
            p[32] = footer;
            bytes_.insert(bytes_.end(), p, p + 33);
        }
    }
    bool plugged() const override { return true; }
    void receive(const std::uint8_t*, std::size_t, std::int64_t) override {}
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t) override {
        std::size_t n = 0;
        while (n < max) {
            std::size_t take = std::min(max - n, bytes_.size() - pos_);
            std::memcpy(out + n, bytes_.data() + pos_, take);
            n += take;
            pos_ = (pos_ + take) % bytes_.size();
        }
        return n;
    }
    std::int64_t nextTransmitUs(std::int64_t nowUs) override { return nowUs; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

void run(benchmark::State& state, bool footerCycle, const char* label) {
    mbeeg::serial::setRealPortsEnabled(false);
    auto ring = std::make_shared<PacketRing>(footerCycle);
    mbeeg::serial::PortDescription d;
    d.path = "mem:90";
    d.alias = "COM291";
    d.deviceId = "FTDIBUS\\VID_0403+PID_6015+BENCH";
    mbeeg::serial::registerMemoryPort(d, ring);
    CConfigComRadiozq dongle;
    dongle.m_pSerialPort = new CMegSerialPortzq();
    dongle.m_pSerialPort->openRW(L"COM291", 1, 1);
    dongle.getTrackGainMb(1, 6);

    std::int64_t decoded = 0;
    for (auto _ : state) {
        decoded += dongle.readCytonData();
        benchmark::DoNotOptimize(dongle.m_eeg[0]);
    }
    state.SetItemsProcessed(decoded);
    if (decoded != static_cast<std::int64_t>(state.iterations())) state.SkipWithError("a packet was not decoded");
    mbeeg::serial::unregisterMemoryPort(d.path);
    state.counters["ns_per_packet"] =
        benchmark::Counter(static_cast<double>(decoded), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    (void)label;
}

// The port's share: the same two reads per packet, nothing decoded.
void BM_PortReadsOnly(benchmark::State& state) {
    mbeeg::serial::setRealPortsEnabled(false);
    auto ring = std::make_shared<PacketRing>(false);
    mbeeg::serial::PortDescription d;
    d.path = "mem:91";
    d.alias = "COM292";
    mbeeg::serial::registerMemoryPort(d, ring);
    CMegSerialPortzq port;
    port.openRW(L"COM292", 1, 1);
    unsigned char buf[32];
    for (auto _ : state) {
        benchmark::DoNotOptimize(port.reads(buf, 1));
        benchmark::DoNotOptimize(port.reads(buf, 32));
    }
    port.closeCom(0);
    mbeeg::serial::unregisterMemoryPort(d.path);
}
BENCHMARK(BM_PortReadsOnly);

void BM_DecodeC0(benchmark::State& state) { run(state, false, "C0"); }
void BM_DecodeMixedFooters(benchmark::State& state) { run(state, true, "mixed"); }
BENCHMARK(BM_DecodeC0);
BENCHMARK(BM_DecodeMixedFooters);

// Prints one decode_ns_per_packet line per benchmark besides the table.
class LineReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || r.iterations == 0) continue;
            // Per iteration = per packet. CPU time is the figure: on a shared
            // machine the wall time also counts other processes' turns.
            const double cpu = r.GetAdjustedCPUTime(), real = r.GetAdjustedRealTime();
            const std::string name = r.benchmark_name();
            const char* key = name.find("PortReadsOnly") != std::string::npos ? "port_reads_ns_per_packet"
                                                                                : "decode_ns_per_packet";
            char line[256];
            std::snprintf(line, sizeof line, "%s %s=%.1f (wall %.1f)", name.c_str(), key, cpu, real);
            lines_.push_back(line);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& l : lines_) std::printf("%s\n", l.c_str());
        std::fflush(stdout);
    }

private:
    std::vector<std::string> lines_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    LineReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
