#include "tests/support/DriverRig.h"

#include <algorithm>
#include <climits>

namespace drivertest {

void CmdBoard::on(const std::string& cmd, const std::string& reply) {
    std::lock_guard<std::mutex> l(mu_);
    replies_[cmd] = reply;
}

void CmdBoard::setReplyDelayUs(std::int64_t us) {
    std::lock_guard<std::mutex> l(mu_);
    delayUs_ = us;
}

void CmdBoard::setUnplugged(bool u) {
    std::lock_guard<std::mutex> l(mu_);
    unplugged_ = u;
}

void CmdBoard::unplugAfterWrites(int n) {
    std::lock_guard<std::mutex> l(mu_);
    writesLeft_ = n;
}

std::vector<CmdBoard::Write> CmdBoard::writes() const {
    std::lock_guard<std::mutex> l(mu_);
    return log_;
}

std::vector<std::string> CmdBoard::writeTexts() const {
    std::lock_guard<std::mutex> l(mu_);
    std::vector<std::string> v;
    for (const auto& w : log_) v.push_back(w.bytes);
    return v;
}

std::string CmdBoard::received() const {
    std::lock_guard<std::mutex> l(mu_);
    std::string s;
    for (const auto& w : log_) s += w.bytes;
    return s;
}

void CmdBoard::clearLog() {
    std::lock_guard<std::mutex> l(mu_);
    log_.clear();
}

bool CmdBoard::plugged() const {
    std::lock_guard<std::mutex> l(mu_);
    return !unplugged_;
}

void CmdBoard::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    std::string cmd(reinterpret_cast<const char*>(data), n);
    log_.push_back({nowUs, cmd});
    if (writesLeft_ > 0 && --writesLeft_ == 0) unplugged_ = true;
    auto it = replies_.find(cmd);
    if (it == replies_.end()) return;
    out_ += it->second;
    outDueUs_ = nowUs + delayUs_;
}

std::size_t CmdBoard::transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    if (out_.empty() || nowUs < outDueUs_) return 0;
    std::size_t n = std::min(max, out_.size());
    std::copy_n(out_.begin(), n, out);
    out_.erase(0, n);
    return n;
}

std::int64_t CmdBoard::nextTransmitUs(std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    if (out_.empty()) return INT64_MAX;
    return std::max(nowUs, outDueUs_);
}

TestDriver::~TestDriver() {
    cleanDevice();
    cleanConfigComBle2Board();
    cleanCloseFaceCom();
}

std::shared_ptr<CmdBoard> attachCmdBoard(CConfigComRadiozq& dongle, int slot) {
    auto dev = std::make_shared<CmdBoard>();
    mbeeg::serial::PortDescription d;
    d.path = "mem:" + std::to_string(slot);
    d.alias = "COM" + std::to_string(201 + slot);
    d.deviceId = "FTDIBUS\\VID_0403+PID_6015+CMD" + std::to_string(slot);
    d.manufacturer = "FTDI";
    d.description = "command test board";
    d.vid = 0x0403;
    d.pid = 0x6015;
    mbeeg::serial::registerMemoryPort(d, dev);
    auto* port = new CMegSerialPortzq();
    CString alias;
    alias.Format(L"COM%d", 201 + slot);
    port->openRW(alias, 1, 1);
    dongle.m_pSerialPort = port;
    dongle.m_portName = alias;
    return dev;
}

Rig::Rig(int boards, int linkType) {
    mbeeg::serial::setRealPortsEnabled(false);
    setLinkType(linkType);
    drv.m_pConfigUser = &user;
    drv.m_pConfigDetect = &detect;
    for (int i = 0; i < boards; ++i) {
        auto* dongle = new CConfigComRadiozq;
        boards_.push_back(attachCmdBoard(*dongle, i));
        drv.m_dongles.push_back(dongle);
    }
}

Rig::~Rig() {
    drv.cleanDevice();
    drv.cleanConfigComBle2Board();
    drv.m_pConfigUser = nullptr;
    drv.m_pConfigDetect = nullptr;
    mbeeg::serial::clearMemoryPorts();
}

void Rig::setLinkType(int linkType) {
    user.m_linkType = linkType;
    detect.m_linkType = linkType;
}

void Rig::clearLogs() {
    for (auto& b : boards_) b->clearLog();
}

}  // namespace drivertest
