// Real serial ports through libserialport: listing with USB identifiers, and
// open ports whose reads wait in poll() on the port's descriptor, so that a
// wait ends at the first byte and an unplugged adapter shows as a hang-up.
#include <libserialport.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serialport/BackendInternal.h"
#include "serialport/ComAlias.h"

namespace mbeeg::serial {

std::string usbDeviceId(std::uint16_t vid, std::uint16_t pid, const std::string& serial) {
    char buf[64];
    if (vid == 0x0403) {
        std::snprintf(buf, sizeof buf, "FTDIBUS\\VID_%04X+PID_%04X+", vid, pid);
        return buf + serial;
    }
    std::snprintf(buf, sizeof buf, "USB\\VID_%04X&PID_%04X\\", vid, pid);
    return buf + serial;
}

namespace detail {

namespace {

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

std::string spError(const std::string& path, const char* what, sp_return r) {
    std::string why;
    if (r == SP_ERR_FAIL) {
        char* m = sp_last_error_message();
        why = text(m);
        sp_free_error_message(m);
    } else if (r == SP_ERR_ARG) {
        why = "invalid argument";
    } else if (r == SP_ERR_MEM) {
        why = "out of memory";
    } else if (r == SP_ERR_SUPP) {
        why = "not supported";
    }
    return path + ": " + what + (why.empty() ? "" : ": " + why);
}

class LibSerialChannel final : public Channel {
public:
    LibSerialChannel(std::string path, sp_port* port, bool exclusive)
        : path_(std::move(path)), port_(port), exclusive_(exclusive) {}
    ~LibSerialChannel() override { release(); }

    bool write(const std::uint8_t* data, std::size_t n) override {
        if (!open_) return fail(path_ + ": port closed");
        sp_return r = sp_blocking_write(port_, data, n, static_cast<unsigned>(writeTimeoutMs_));
        if (r < 0) return fail(spError(path_, "write", r));
        if (static_cast<std::size_t>(r) != n) return fail(path_ + ": write timed out");
        return true;
    }
    long read(std::uint8_t* buf, std::size_t max, std::int64_t timeoutUs) override {
        int fd = -1;
        if (!open_ || sp_get_port_handle(port_, &fd) != SP_OK) {
            error_ = path_ + ": port closed";
            return -1;
        }
        std::string why;
        long n = pollRead(fd, buf, max, timeoutUs, why);
        if (n < 0) error_ = path_ + ": " + why;
        return n;
    }
    void purge() override {
        if (open_) sp_flush(port_, SP_BUF_BOTH);
    }
    bool configure(unsigned baud) override {
        if (!open_) return fail(path_ + ": port closed");
        sp_return r;
        if ((r = sp_set_baudrate(port_, static_cast<int>(baud))) != SP_OK ||
            (r = sp_set_bits(port_, 8)) != SP_OK || (r = sp_set_parity(port_, SP_PARITY_NONE)) != SP_OK ||
            (r = sp_set_stopbits(port_, 1)) != SP_OK ||
            (r = sp_set_flowcontrol(port_, SP_FLOWCONTROL_NONE)) != SP_OK)
            return fail(spError(path_, "line setup", r));
        baud_ = baud;
        return true;
    }
    bool setLowLatency() override { return setFtdiLatency1ms(path_); }
    bool resetDevice() override {
        if (open_) {
            if (sp_set_dtr(port_, SP_DTR_OFF) == SP_OK && sp_set_rts(port_, SP_RTS_OFF) == SP_OK) {
                platform::clock().sleepMs(50);
                sp_set_dtr(port_, SP_DTR_ON);
                sp_set_rts(port_, SP_RTS_ON);
            }
            sp_close(port_);
            open_ = false;
        }
        if (!reopen()) return false;
        return baud_ == 0 || configure(baud_);
    }
    platform::Clock& clock() override { return realClock(); }
    void setWriteTimeoutMs(int ms) override { writeTimeoutMs_ = ms > 0 ? ms : 1000; }
    int inputFd() override {
        int fd = -1;
        return open_ && sp_get_port_handle(port_, &fd) == SP_OK ? fd : -1;
    }
    std::string lastError() const override { return error_; }

    bool reopen() {
        sp_return r = sp_open(port_, SP_MODE_READ_WRITE);
        if (r != SP_OK) return fail(errno == EBUSY ? inUseMessage(path_) : spError(path_, "open", r));
        int fd = -1;
        std::string why;
        if (exclusive_ && sp_get_port_handle(port_, &fd) == SP_OK && !lockPort(fd, path_, why)) {
            sp_close(port_);
            return fail(why);
        }
        open_ = true;
        return true;
    }

private:
    void release() {
        if (open_) {
            int fd = -1;
            if (sp_get_port_handle(port_, &fd) == SP_OK) unlockPort(fd);
            sp_close(port_);
        }
        open_ = false;
        if (port_) sp_free_port(port_);
        port_ = nullptr;
    }
    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }
    std::string path_;
    sp_port* port_;
    bool exclusive_;
    bool open_ = false;
    unsigned baud_ = 0;
    int writeTimeoutMs_ = 1000;
    std::string error_;
};

}  // namespace

std::vector<PortDescription> listLibSerialPorts() {
    std::vector<PortDescription> out;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK || !list) return out;
    for (sp_port** p = list; *p; ++p) {
        PortDescription d;
        d.path = text(sp_get_port_name(*p));
        if (d.path.empty()) continue;
        d.alias = aliasForPath(d.path);
        d.description = text(sp_get_port_description(*p));
        if (sp_get_port_transport(*p) == SP_TRANSPORT_USB) {
            int vid = 0, pid = 0;
            if (sp_get_port_usb_vid_pid(*p, &vid, &pid) == SP_OK) {
                d.vid = static_cast<std::uint16_t>(vid);
                d.pid = static_cast<std::uint16_t>(pid);
            }
            d.serial = text(sp_get_port_usb_serial(*p));
            d.manufacturer = text(sp_get_port_usb_manufacturer(*p));
            std::string product = text(sp_get_port_usb_product(*p));
            if (d.description.empty()) d.description = product;
            d.deviceId = usbDeviceId(d.vid, d.pid, d.serial);
        } else if (d.path.rfind("/dev/ttyS", 0) == 0) {
            d.deviceId = "ACPI\\PNP0501";
        } else {
            d.deviceId = d.path;
        }
        out.push_back(std::move(d));
    }
    sp_free_port_list(list);
    return out;
}

std::unique_ptr<Channel> openLibSerialPort(const std::string& path, bool exclusive, std::string& error) {
    sp_port* port = nullptr;
    sp_return r = sp_get_port_by_name(path.c_str(), &port);
    if (r != SP_OK || !port) {
        error = spError(path, "unknown port", r);
        return nullptr;
    }
    auto ch = std::make_unique<LibSerialChannel>(path, port, exclusive);
    if (!ch->reopen()) {
        error = ch->lastError();
        return nullptr;
    }
    return ch;
}

}  // namespace detail
}  // namespace mbeeg::serial
