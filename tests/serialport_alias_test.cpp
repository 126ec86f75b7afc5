// COM aliases of Linux device paths: the driver only ever sees "COMn" names.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "serialport/ComAlias.h"

using mbeeg::serial::aliasForPath;
using mbeeg::serial::aliasNumber;
using mbeeg::serial::pathForName;

TEST(ComAlias, FixedRangesMapBothWaysWithoutCollisions) {
    EXPECT_EQ(aliasForPath("/dev/ttyUSB0"), "COM1");
    EXPECT_EQ(aliasForPath("/dev/ttyUSB31"), "COM32");
    EXPECT_EQ(aliasForPath("/dev/ttyACM0"), "COM33");
    EXPECT_EQ(aliasForPath("/dev/ttyS0"), "COM65");
    EXPECT_EQ(aliasForPath("/dev/pts/7"), "COM108");
    EXPECT_EQ(aliasForPath("mem:3"), "COM204");

    for (const char* path : {"/dev/ttyUSB0", "/dev/ttyUSB31", "/dev/ttyACM5", "/dev/ttyS35", "/dev/pts/99", "mem:199"})
        EXPECT_EQ(pathForName(aliasForPath(path)), path) << path;

    // Indices that would run into the next range must not steal its numbers.
    EXPECT_GE(aliasNumber(aliasForPath("/dev/ttyUSB32")), 401);
    EXPECT_GE(aliasNumber(aliasForPath("/dev/pts/100")), 401);
    EXPECT_GE(aliasNumber(aliasForPath("/dev/ttyS01")), 401);  // not ttyS1
}

TEST(ComAlias, NamesAreAcceptedInWindowsSpellingsAndPathsPassThrough) {
    EXPECT_EQ(pathForName("com1"), "/dev/ttyUSB0");
    EXPECT_EQ(pathForName("Com108"), "/dev/pts/7");
    EXPECT_EQ(pathForName("\\\\.\\COM33"), "/dev/ttyACM0");
    EXPECT_EQ(pathForName("/dev/ttyUSB3"), "/dev/ttyUSB3");
    EXPECT_EQ(pathForName("COM399"), "mem:198");
    EXPECT_EQ(pathForName("COM98765"), "");  // unknown alias
    EXPECT_EQ(aliasNumber("COM"), 0);
    EXPECT_EQ(aliasNumber("COM0"), 0);
    EXPECT_EQ(aliasNumber("COM3x"), 0);
    EXPECT_EQ(aliasNumber("COM12"), 12);
}

TEST(ComAlias, OtherPathsAreNumberedOnceInFirstSeenOrderAcrossThreads) {
    const std::string a = "/dev/serial/by-id/usb-FTDI_alias_test_A";
    const std::string b = "/dev/serial/by-id/usb-FTDI_alias_test_B";
    const int na = aliasNumber(aliasForPath(a));
    const int nb = aliasNumber(aliasForPath(b));
    EXPECT_GE(na, 401);
    EXPECT_EQ(nb, na + 1);
    EXPECT_EQ(aliasNumber(aliasForPath(a)), na);
    EXPECT_EQ(pathForName("COM" + std::to_string(nb)), b);

    // Many threads meeting the same new paths agree on one number per path.
    std::vector<std::string> results(16);
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) results[t] += aliasForPath("/tmp/alias-race-" + std::to_string(i)) + ",";
        });
    for (auto& th : threads) th.join();
    std::set<std::string> distinct(results.begin(), results.end());
    EXPECT_EQ(distinct.size(), 1u);
    distinct.clear();
    for (int i = 0; i < 50; ++i) distinct.insert(aliasForPath("/tmp/alias-race-" + std::to_string(i)));
    EXPECT_EQ(distinct.size(), 50u);
}
