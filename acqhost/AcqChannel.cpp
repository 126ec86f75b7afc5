// One channel of a trial: two sample arrays, the unit and value range the
// saved file uses, and where the channel comes from (board, pin, electrode).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <vector>

#include "host/AcqFramework.h"

namespace {

// Arrays from this size on are mapped address space: a day-long trial takes
// memory only as it is written, and written rows can be given back.
constexpr std::size_t kMapFrom = 256 * 1024;

std::size_t pageBytes() {
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

double* mapZeros(std::size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    // Huge pages would make each channel hold megabytes ahead of its rows.
    ::madvise(p, bytes, MADV_NOHUGEPAGE);
    return static_cast<double*>(p);
}

std::size_t residentOf(const double* p, std::size_t bytes) {
    if (!p || bytes == 0) return 0;
    const std::size_t page = pageBytes();
    std::vector<unsigned char> in((bytes + page - 1) / page);
    if (::mincore(const_cast<double*>(p), bytes, in.data()) != 0) return bytes;
    std::size_t n = 0;
    for (unsigned char c : in) n += c & 1;
    return n * page;
}

// Board counts at the default gain of 24: the range maps the 24-bit counts
// one to one onto microvolts (4.5 V reference, 2^23 - 1 full scale).
constexpr double kEegUvPerCount = 4.5 / 8388607.0 / 24.0 * 1000000.0;
// Accelerometer: 0.000125 g per count over 16 bits.
constexpr double kAccGPerCount = 0.000125;

}  // namespace

CMeAcgChannelzq::CMeAcgChannelzq(const CAcqChnlGeomzq& geom, std::int64_t samples)
    : m_label(geom.m_name), m_kind(geom.m_kind), m_samples(samples > 0 ? samples : 0) {
    switch (m_kind) {
        case GEOM_KIND_EEG:
            m_unit = L"uV";
            m_rangeMax = 8388607.0 * kEegUvPerCount;  // 187500 exactly
            m_rangeMin = -m_rangeMax;
            break;
        case GEOM_KIND_ACCEL:
            m_unit = L"g";
            m_rangeMin = -32768 * kAccGPerCount;
            m_rangeMax = 32767 * kAccGPerCount;
            break;
        case GEOM_KIND_TIMESTAMP:
            m_unit = L"ms";
            m_rangeMin = 0;
            m_rangeMax = 16777215;
            break;
        case GEOM_KIND_ANALOG:
            m_unit = L"counts";
            m_rangeMin = -8388608;
            m_rangeMax = 8388607;
            break;
        default:  // trigger and the other trailer channels carry codes
            m_rangeMin = -8388608;
            m_rangeMax = 8388607;
            break;
    }
    m_boardIndex = geom.m_boardIndex;
    if (const CEEGelectrode* e = geom.getElectrode()) {
        m_boardIndex = e->m_boardIndex;
        m_pin = e->m_pin;
        m_portText = e->m_portText;
        m_elcX = e->m_x;
        m_elcY = e->m_y;
        m_elcZ = e->m_z;
    }
    allocate();
}

CMeAcgChannelzq::CMeAcgChannelzq(const CMeAcgChannelzq& shape, std::int64_t samples)
    : m_label(shape.m_label),
      m_kind(shape.m_kind),
      m_unit(shape.m_unit),
      m_rangeMin(shape.m_rangeMin),
      m_rangeMax(shape.m_rangeMax),
      m_boardIndex(shape.m_boardIndex),
      m_pin(shape.m_pin),
      m_portText(shape.m_portText),
      m_elcX(shape.m_elcX),
      m_elcY(shape.m_elcY),
      m_elcZ(shape.m_elcZ),
      m_samples(samples > 0 ? samples : 0) {
    allocate();
}

void CMeAcgChannelzq::allocate() {
    const auto n = static_cast<std::size_t>(m_samples > 0 ? m_samples : 1);
    const std::size_t bytes = n * sizeof(double);
    if (bytes < kMapFrom) {
        m_pValues = new double[n]();
        try {
            m_pValuesMirror = new double[n]();
        } catch (...) {
            delete[] m_pValues;
            throw;
        }
        return;
    }
    const std::size_t page = pageBytes();
    m_mapBytes = (bytes + page - 1) / page * page;
    m_pValues = mapZeros(m_mapBytes);
    try {
        m_pValuesMirror = mapZeros(m_mapBytes);
    } catch (...) {
        ::munmap(m_pValues, m_mapBytes);
        throw;
    }
}

CMeAcgChannelzq::~CMeAcgChannelzq() {
    if (m_mapBytes) {
        ::munmap(m_pValues, m_mapBytes);
        ::munmap(m_pValuesMirror, m_mapBytes);
    } else {
        delete[] m_pValues;
        delete[] m_pValuesMirror;
    }
}

std::int64_t CMeAcgChannelzq::releaseBefore(std::int64_t upTo) {
    if (!m_mapBytes || upTo <= 0) return 0;
    const std::size_t page = pageBytes();
    const std::size_t bytes = static_cast<std::size_t>(std::min(upTo, m_samples)) * sizeof(double) / page * page;
    if (bytes == 0) return 0;
    // The pages stay mapped: a reader that lags reads zeros, never freed memory.
    ::madvise(m_pValues, bytes, MADV_DONTNEED);
    ::madvise(m_pValuesMirror, bytes, MADV_DONTNEED);
    return static_cast<std::int64_t>(bytes / sizeof(double));
}

std::size_t CMeAcgChannelzq::residentBytes() const {
    if (!m_mapBytes) return 2 * static_cast<std::size_t>(m_samples > 0 ? m_samples : 1) * sizeof(double);
    return residentOf(m_pValues, m_mapBytes) + residentOf(m_pValuesMirror, m_mapBytes);
}
