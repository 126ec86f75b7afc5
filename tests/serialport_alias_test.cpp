// COM aliases of Linux device paths: the driver only ever sees "COMn" names.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "serialport/ComAlias.h"

using mbeeg::serial::aliasForPath;
using mbeeg::serial::aliasNumber;
using mbeeg::serial::pathForName;

TEST(ComAlias, FixedRangesMapBothWaysWithoutCollisionsAndWindowsSpellingsAreAccepted) {
    const std::pair<const char*, const char*> pairs[] = {
        {"/dev/ttyUSB0", "COM1"}, {"/dev/ttyUSB31", "COM32"}, {"/dev/ttyACM0", "COM33"}, {"/dev/ttyS0", "COM65"},
        {"/dev/pts/7", "COM108"}, {"mem:3", "COM204"},        {"/dev/ttyACM5", nullptr}, {"/dev/ttyS35", nullptr},
        {"/dev/pts/99", nullptr}, {"mem:199", nullptr}};
    for (auto [path, alias] : pairs) {
        EXPECT_TRUE(!alias || aliasForPath(path) == alias) << path;
        EXPECT_EQ(pathForName(aliasForPath(path)), path) << path;
    }
    // Indices that would run into the next range must not steal its numbers.
    for (const char* path : {"/dev/ttyUSB32", "/dev/pts/100", "/dev/ttyS01" /* not ttyS1 */})
        EXPECT_GE(aliasNumber(aliasForPath(path)), 401) << path;

    const std::pair<const char*, const char*> names[] = {
        {"com1", "/dev/ttyUSB0"}, {"Com108", "/dev/pts/7"}, {"\\\\.\\COM33", "/dev/ttyACM0"},
        {"/dev/ttyUSB3", "/dev/ttyUSB3"}, {"COM399", "mem:198"}, {"COM98765", ""} /* unknown alias */};
    for (auto [name, path] : names) EXPECT_EQ(pathForName(name), path) << name;
    for (auto [name, n] : {std::pair{"COM", 0}, {"COM0", 0}, {"COM3x", 0}, {"COM12", 12}}) EXPECT_EQ(aliasNumber(name), n) << name;
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
