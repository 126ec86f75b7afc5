// One list over all backends, and opening by alias or path.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

#include "serialport/BackendInternal.h"
#include "serialport/ComAlias.h"

namespace mbeeg::serial {

namespace {

std::atomic<bool> g_realEnabled{true};

bool realPortsListed() {
    const char* env = std::getenv("MBEEG_NO_REAL_PORTS");
    if (env && std::string(env) == "1") return false;
    return g_realEnabled.load();
}

std::string trim(const std::string& s) {
    const char* ws = " \t\r\n";
    auto b = s.find_first_not_of(ws);
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

std::vector<PortDescription> simPorts() {
    std::vector<PortDescription> out;
    const char* env = std::getenv("MBEEG_SIM_PORTS");
    if (!env) return out;
    std::string list(env);
    int k = 0;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string path = trim(list.substr(start, comma - start));
        start = comma + 1;
        if (path.empty()) continue;
        PortDescription d;
        d.path = path;
        d.alias = aliasForPath(path);
        d.vid = 0x0403;
        d.pid = 0x6015;
        d.serial = "MBSIM" + std::to_string(++k);
        d.deviceId = usbDeviceId(d.vid, d.pid, d.serial);
        d.manufacturer = "FTDI";
        d.description = "mbeeg-sim dongle";
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace

void setRealPortsEnabled(bool enabled) { g_realEnabled = enabled; }

namespace {
std::mutex g_trafficMu;
TrafficObserver g_traffic;
std::atomic<bool> g_haveTraffic{false};
}  // namespace

void setTrafficObserver(TrafficObserver observer) {
    std::lock_guard<std::mutex> lk(g_trafficMu);
    g_haveTraffic = static_cast<bool>(observer);
    g_traffic = std::move(observer);
}

void notifyTraffic(const std::string& port, const std::uint8_t* data, std::size_t n) {
    if (!g_haveTraffic.load(std::memory_order_relaxed)) return;  // the common case costs one load
    std::lock_guard<std::mutex> lk(g_trafficMu);
    if (g_traffic) g_traffic(port, data, n);
}

std::vector<PortDescription> enumeratePorts() {
    std::vector<PortDescription> out = detail::listMemoryPorts();
    for (auto& d : simPorts()) out.push_back(std::move(d));
    if (realPortsListed())
        for (auto& d : detail::listLibSerialPorts()) out.push_back(std::move(d));
    // A path listed twice (a sim pty libserialport also knows) keeps its first entry.
    std::set<std::string> seen;
    out.erase(std::remove_if(out.begin(), out.end(), [&](const PortDescription& d) { return !seen.insert(d.path).second; }),
              out.end());
    std::stable_sort(out.begin(), out.end(), [](const PortDescription& a, const PortDescription& b) {
        return aliasNumber(a.alias) < aliasNumber(b.alias);
    });
    return out;
}

std::unique_ptr<Channel> openPort(const std::string& nameOrPath, std::string& error, bool exclusive) {
    error.clear();
    if (nameOrPath.empty()) {
        error = "no port name";
        return nullptr;
    }
    if (auto ch = detail::openMemoryPort(nameOrPath, error)) return ch;
    if (!error.empty()) return nullptr;
    const std::string path = pathForName(nameOrPath);
    if (path.empty() || path.rfind("mem:", 0) == 0) {
        error = nameOrPath + ": no such port";
        return nullptr;
    }
    // libserialport looks ports up in sysfs and refuses pseudo-terminals.
    if (path.rfind("/dev/pts/", 0) != 0) {
        std::string spWhy;
        if (auto ch = detail::openLibSerialPort(path, exclusive, spWhy)) return ch;
    }
    return detail::openTermiosPort(path, exclusive, error);
}

}  // namespace mbeeg::serial
