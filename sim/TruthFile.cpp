#include "sim/TruthFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sim/Cyton.h"

namespace sim {

namespace {
constexpr std::size_t kFlushBytes = 64 * 1024;
}

TruthWriter::TruthWriter(const std::string& path, std::int64_t flushEveryUs)
    : path_(path), flushEveryUs_(flushEveryUs) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = path + ": " + std::strerror(errno);
        return;
    }
    buf_ = "# board index sample dropped c1 c2 c3 c4 c5 c6 c7 c8\n";
    flush();
}

TruthWriter::~TruthWriter() {
    flush();
    if (fd_ >= 0) ::close(fd_);
}

void TruthWriter::packet(int board, const PacketRecord& r) {
    if (fd_ < 0) return;
    const int dropped = r.bytesSent < kPacketBytes ? kTruthCut : r.dropped ? kTruthDropped : kTruthSent;
    char line[160];
    const auto& c = r.counts;
    int n = std::snprintf(line, sizeof line, "%d %u %u %d %d %d %d %d %d %d %d %d\n", board + 1,
                          static_cast<unsigned>(r.index), static_cast<unsigned>(r.sample), dropped, c[0], c[1], c[2],
                          c[3], c[4], c[5], c[6], c[7]);
    buf_.append(line, static_cast<std::size_t>(n));
    if (buf_.size() >= kFlushBytes) flush();
}

void TruthWriter::reached(std::int64_t nowUs) {
    if (lastFlushUs_ < 0) lastFlushUs_ = nowUs;
    if (nowUs - lastFlushUs_ < flushEveryUs_) return;
    lastFlushUs_ = nowUs;
    flush();
}

void TruthWriter::flush() {
    // Whole lines only, so that a reader never sees half of one that is done.
    std::size_t done = 0;
    while (fd_ >= 0 && done < buf_.size()) {
        ssize_t w = ::write(fd_, buf_.data() + done, buf_.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error_ = path_ + ": " + std::strerror(errno);
            ::close(fd_);
            fd_ = -1;
            break;
        }
        done += static_cast<std::size_t>(w);
    }
    buf_.clear();
}

std::vector<std::vector<TruthRow>> readTruthFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot read");
    std::vector<std::vector<TruthRow>> boards;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (in.eof()) break;  // no newline yet: still being written
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ss(line);
        TruthRow r;
        unsigned sample = 0;
        ss >> r.board >> r.index >> sample >> r.dropped;
        for (auto& c : r.counts) ss >> c;
        std::string rest;
        if (!ss || ss >> rest || r.board < 1 || sample > 255 || r.dropped < 0 || r.dropped > 2)
            throw std::runtime_error(path + ":" + std::to_string(lineNo) + ": not a truth line: " + line);
        r.sample = static_cast<std::uint8_t>(sample);
        if (static_cast<int>(boards.size()) < r.board) boards.resize(r.board);
        boards[r.board - 1].push_back(r);
    }
    return boards;
}

}  // namespace sim
