// Hardware information: makes the channel-geometry records (kept in a pool
// that every copy of the object shares) and appends the host's trailer.
#include <new>

#include "host/AcqFramework.h"

CHardWareInfo::CHardWareInfo() : m_records(std::make_shared<std::vector<std::unique_ptr<CAcqChnlGeomzq>>>()) {}

CHardWareInfo::~CHardWareInfo() = default;

CAcqChnlGeomzq* CHardWareInfo::makeChnGeom(const CString& name, int kind, int flag) {
    try {
        if (!m_records) m_records = std::make_shared<std::vector<std::unique_ptr<CAcqChnlGeomzq>>>();
        m_records->push_back(std::make_unique<CAcqChnlGeomzq>(name, kind, flag));
        return m_records->back().get();
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
        if (!g || !list.Add(g)) return;
    }
}
