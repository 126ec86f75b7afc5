// Test entry point: every test runs with its own profile file, so that no
// test reads or writes the user's settings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/profile.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string dir = "/tmp/mbeeg-test-" + std::to_string(::getpid());
    platform::setProfilePath(dir + "/mbeeg.ini");
    int rc = RUN_ALL_TESTS();
    std::string cmd = "rm -rf '" + dir + "'";
    (void)std::system(cmd.c_str());
    return rc;
}
