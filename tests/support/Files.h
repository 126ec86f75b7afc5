// Temporary folders, the mbeeg program run from a shell, and the MNE check.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace testfiles {

inline const std::string kMbeeg = std::string(MBEEG_BINARY_DIR) + "/app/mbeeg";

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& name) {
        std::string t = "/tmp/mbeeg-" + name + ".XXXXXX";
        path = ::mkdtemp(t.data()) ? t : "";
        EXPECT_FALSE(path.empty());
    }
    ~TempDir() {
        if (::testing::Test::HasFailure()) {
            std::cout << "files kept in " << path << "\n";
            return;
        }
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
    operator const std::filesystem::path&() const { return path; }
};

struct CliRun {
    int status = -1;
    std::string out, err;
};

inline std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> v;
    std::stringstream ss(s);
    for (std::string l; std::getline(ss, l);) v.push_back(l);
    return v;
}

// mbeeg with args, from folder dir, with env ("NAME=value ...") set, reading `input`.
inline CliRun runMbeeg(const std::string& dir, const std::string& env, const std::string& args,
                       const std::string& input = "/dev/null") {
    const std::string o = dir + "/.out", e = dir + "/.err";
    const int rc = std::system(("cd '" + dir + "' && " + env + " " + kMbeeg + " " + args + " >" + o + " 2>" + e +
                                " <'" + input + "'").c_str());
    CliRun r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(o), slurp(e)};
    std::remove(o.c_str());
    std::remove(e.c_str());
    return r;
}

inline bool hasMne() { return std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") == 0; }

// tests/python/check_bdf.py on bdf against exp; "" when it agrees, else what it said.
inline std::string mneDisagrees(const std::filesystem::path& bdf, const nlohmann::json& exp) {
    const std::filesystem::path dir = bdf.parent_path(), e = dir / "expected.json", out = dir / "mne.txt";
    std::ofstream(e) << exp.dump(1);
    const std::string cmd = "/usr/bin/python3 " MBEEG_SOURCE_DIR "/tests/python/check_bdf.py '" + bdf.string() + "' '" +
                            e.string() + "' >'" + out.string() + "' 2>&1";
    return std::system(cmd.c_str()) == 0 ? "" : "check_bdf.py: " + slurp(out);
}

}  // namespace testfiles
