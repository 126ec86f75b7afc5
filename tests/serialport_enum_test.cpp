// The port listing the driver searches for dongles, simulated ptys included.
#include <gtest/gtest.h>

#include <cstdlib>

#include "host/MegSerialPort.h"
#include "serialport/Backend.h"
#include "serialport/ComAlias.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ScopedMemoryPort;
using mbeeg::test::ScriptedDevice;

namespace {
struct EnvGuard {
    EnvGuard() {
        ::unsetenv("MBEEG_SIM_PORTS");
        ::unsetenv("MBEEG_NO_REAL_PORTS");
    }
    ~EnvGuard() {
        ::unsetenv("MBEEG_SIM_PORTS");
        ::unsetenv("MBEEG_NO_REAL_PORTS");
        mbeeg::serial::setRealPortsEnabled(true);
    }
};
}  // namespace

TEST(PortListing, MemoryDonglesAreListedAsFtdiPortsInComOrder) {
    EnvGuard env;
    mbeeg::serial::setRealPortsEnabled(false);
    ScopedMemoryPort second(std::make_shared<ScriptedDevice>(), 2, "DQ00BX1");
    ScopedMemoryPort first(std::make_shared<ScriptedDevice>(), 0);
    CFaceMegSerialPortzq face;
    auto info = face.getComVidPidInfo();
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].device, L"FTDIBUS\\VID_0403+PID_6015+SCRIPT0");
    EXPECT_EQ(info[1].portName + L" " + info[1].manufacturer + L" " + info[1].description + L" " +
                  info[1].systemLocation + L" " + info[1].serialNumber,
              L"COM203 FTDI mbeeg-sim dongle mem:2 DQ00BX1");
    EXPECT_TRUE(info[1].hasVendorIdentifier && info[1].vendorIdentifier == 0x0403 && info[1].productIdentifier == 0x6015);
    auto names = face.getPortInfo();
    EXPECT_EQ(names, (decltype(names){{201, CString(L"COM201")}, {203, CString(L"COM203")}}));
    EXPECT_EQ(face.closeAllPorts(), 1);
    EXPECT_EQ(mbeeg::serial::usbDeviceId(0x1A86, 0x7523, "5"), "USB\\VID_1A86&PID_7523\\5");
    EXPECT_EQ(mbeeg::serial::usbDeviceId(0x0403, 0x6001, "A1"), "FTDIBUS\\VID_0403+PID_6001+A1");
}

TEST(PortListing, SimulatorPtysComeFromTheEnvironmentAndRealPortsCanBeHidden) {
    EnvGuard env;
    mbeeg::serial::setRealPortsEnabled(true);
    ::setenv("MBEEG_NO_REAL_PORTS", "1", 1);
    ::setenv("MBEEG_SIM_PORTS", " /tmp/mbeeg-enum-test-sim ,/dev/pts/5,,", 1);
    ScopedMemoryPort mem(std::make_shared<ScriptedDevice>(), 0);

    auto ports = mbeeg::serial::enumeratePorts();
    ASSERT_EQ(ports.size(), 3u);  // no real port, whatever this machine has
    EXPECT_EQ(ports[0].alias, "COM106");
    EXPECT_EQ(ports[0].path, "/dev/pts/5");
    EXPECT_EQ(ports[0].deviceId, "FTDIBUS\\VID_0403+PID_6015+MBSIM2");
    EXPECT_EQ(ports[0].description, "mbeeg-sim dongle");
    EXPECT_EQ(ports[1].path, "mem:0");
    EXPECT_EQ(ports[2].path, "/tmp/mbeeg-enum-test-sim");
    EXPECT_EQ(ports[2].deviceId, "FTDIBUS\\VID_0403+PID_6015+MBSIM1");
    EXPECT_GE(mbeeg::serial::aliasNumber(ports[2].alias), 401);
}
