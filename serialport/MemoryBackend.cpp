// Memory ports: a simulated device in this process behind the port interface.
// Every wait runs on the platform clock, so on a virtual clock a read jumps
// straight to the time the device's next byte is due.
#include <algorithm>
#include <atomic>
#include <climits>
#include <map>
#include <mutex>

#include "serialport/BackendInternal.h"
#include "serialport/ComAlias.h"

namespace mbeeg::serial {

namespace {

struct Entry {
    PortDescription desc;
    std::shared_ptr<MemoryDevice> device;
    std::atomic<bool> registered{true};
    std::atomic<bool> open{false};
};

std::mutex g_mutex;
std::map<std::string, std::shared_ptr<Entry>> g_ports;  // by path

class MemoryChannel final : public Channel {
public:
    explicit MemoryChannel(std::shared_ptr<Entry> e) : entry_(std::move(e)) {}
    ~MemoryChannel() override { entry_->open = false; }

    bool write(const std::uint8_t* data, std::size_t n) override {
        if (!alive()) return false;
        entry_->device->receive(data, n, platform::clock().nowUs());
        return true;
    }

    long read(std::uint8_t* buf, std::size_t max, std::int64_t timeoutUs) override {
        platform::Clock& c = platform::clock();
        const platform::Deadline deadline(c, timeoutUs);
        std::int64_t now = c.nowUs();
        if (max == 0) return 0;
        for (;;) {
            if (!alive()) return -1;
            std::size_t n = entry_->device->transmit(buf, max, now);
            if (n > 0) return static_cast<long>(n);
            if (deadline.passed()) return 0;
            std::int64_t next = entry_->device->nextTransmitUs(now);
            std::int64_t t = std::min(deadline.atUs(), next);
            // A device that promises a byte now but gives none must not spin us.
            if (t <= now) t = std::min(deadline.atUs(), now + 1000);
            c.sleepUntilUs(t);
            now = c.nowUs();
        }
    }

    void purge() override {
        if (!alive()) return;
        std::uint8_t scratch[256];
        std::int64_t now = platform::clock().nowUs();
        while (entry_->device->transmit(scratch, sizeof scratch, now) > 0) {
        }
    }

    bool configure(unsigned baud) override {
        if (!alive()) return false;
        entry_->device->lineRate(baud);
        return true;
    }
    bool setLowLatency() override { return alive(); }
    bool resetDevice() override { return alive(); }
    platform::Clock& clock() override { return platform::clock(); }
    std::int64_t nextInputUs(std::int64_t nowUs) override {
        if (!alive()) return nowUs;  // a failed port has "input": its failure
        return entry_->device->nextTransmitUs(nowUs);
    }
    std::string lastError() const override {
        if (!entry_->registered) return entry_->desc.path + ": port removed";
        return entry_->desc.path + ": device unplugged";
    }

private:
    bool alive() const { return entry_->registered && entry_->device->plugged(); }
    std::shared_ptr<Entry> entry_;
};

}  // namespace

void registerMemoryPort(const PortDescription& desc, std::shared_ptr<MemoryDevice> device) {
    auto e = std::make_shared<Entry>();
    e->desc = desc;
    if (e->desc.alias.empty()) e->desc.alias = aliasForPath(desc.path);
    e->device = std::move(device);
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_ports.find(desc.path);
    if (it != g_ports.end()) it->second->registered = false;
    g_ports[desc.path] = std::move(e);
}

void unregisterMemoryPort(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_ports.find(path);
    if (it == g_ports.end()) return;
    it->second->registered = false;
    g_ports.erase(it);
}

void clearMemoryPorts() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [path, e] : g_ports) e->registered = false;
    g_ports.clear();
}

PortDescription memoryDongleDescription(int k, const std::string& serial, const std::string& description) {
    PortDescription d;
    d.path = "mem:" + std::to_string(k);
    d.alias = aliasForPath(d.path);
    d.vid = 0x0403;
    d.pid = 0x6015;
    d.serial = serial;
    d.deviceId = usbDeviceId(d.vid, d.pid, serial);
    d.manufacturer = "FTDI";
    d.description = description;
    return d;
}

namespace detail {

std::vector<PortDescription> listMemoryPorts() {
    std::vector<PortDescription> out;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [path, e] : g_ports) out.push_back(e->desc);
    return out;
}

std::unique_ptr<Channel> openMemoryPort(const std::string& nameOrPath, std::string& error) {
    std::shared_ptr<Entry> found;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        // "com3" and "\\.\COM3" name the same port as "COM3".
        const int number = aliasNumber(nameOrPath);
        for (auto& [path, e] : g_ports)
            if (path == nameOrPath || (number > 0 && aliasNumber(e->desc.alias) == number)) found = e;
    }
    if (!found) return nullptr;
    if (!found->device->plugged()) {
        error = found->desc.path + ": device unplugged";
        return nullptr;
    }
    bool expected = false;
    if (!found->open.compare_exchange_strong(expected, true)) {
        error = found->desc.path + ": port is already open";
        return nullptr;
    }
    return std::make_unique<MemoryChannel>(found);
}

}  // namespace detail
}  // namespace mbeeg::serial
