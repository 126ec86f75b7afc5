// Hardware information: makes the channel-geometry records (kept in a pool
// that every copy of the object shares) and appends the host's trailer.
#include <deque>
#include <new>

#include "host/AcqFramework.h"

struct CHardWareInfo::RecordPool {
    std::vector<std::unique_ptr<CAcqChnlGeomzq>> open;               // the list being built
    std::deque<std::vector<std::unique_ptr<CAcqChnlGeomzq>>> kept;   // the last lists, oldest first
};

CHardWareInfo::CHardWareInfo() : m_records(std::make_shared<RecordPool>()) {}

std::size_t CHardWareInfo::liveRecords() const {
    if (!m_records) return 0;
    std::size_t n = m_records->open.size();
    for (const auto& l : m_records->kept) n += l.size();
    return n;
}

void CHardWareInfo::closeRecordList() {
    if (!m_records || m_records->open.empty()) return;
    m_records->kept.push_back(std::move(m_records->open));
    m_records->open.clear();
    while (m_records->kept.size() > static_cast<std::size_t>(kKeptLists)) m_records->kept.pop_front();
}

CHardWareInfo::~CHardWareInfo() = default;

CAcqChnlGeomzq* CHardWareInfo::makeChnGeom(const CString& name, int kind, int flag) {
    try {
        if (!m_records) m_records = std::make_shared<RecordPool>();
        m_records->open.push_back(std::make_unique<CAcqChnlGeomzq>(name, kind, flag));
        return m_records->open.back().get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int CHardWareInfo::setup(CWnd*, CDialog*) { return 1; }

void CHardWareInfo02Process::addTsrx2chnGem(ChnGeomList& list) {
    static const struct {
        const wchar_t* name;
        int kind;
    } trailer[TRAILER_CHANNELS] = {
        {L"Trigger", GEOM_KIND_TRIGGER}, {L"TimeStamp", GEOM_KIND_TIMESTAMP}, {L"Event", GEOM_KIND_TRAILER},
        {L"Response", GEOM_KIND_TRAILER}, {L"Marker", GEOM_KIND_TRAILER},     {L"Reserved", GEOM_KIND_TRAILER},
    };
    for (const auto& t : trailer) {
        CAcqChnlGeomzq* g = makeChnGeom(t.name, t.kind, 1);
        if (!g || !list.Add(g)) break;
    }
    closeRecordList();
}
