#include "tests/support/DriverRig.h"

namespace drivertest {

TestDriver::~TestDriver() {
    cleanDevice();
    cleanConfigComBle2Board();
    cleanCloseFaceCom();
}

Rig::Rig(int boards, int linkType) {
    mbeeg::serial::setRealPortsEnabled(false);
    setLinkType(linkType);
    drv.m_pConfigUser = &user;
    drv.m_pConfigDetect = &detect;
    for (int i = 0; i < boards; ++i) {
        drv.m_dongles.push_back(new CConfigComRadiozq);
        boards_.push_back(std::make_shared<CmdBoard>());
        mbeeg::test::plugInto(*drv.m_dongles.back(), i, "CMD", boards_.back());
    }
}

Rig::~Rig() {
    drv.cleanDevice();
    drv.cleanConfigComBle2Board();
    drv.m_pConfigUser = nullptr;
    drv.m_pConfigDetect = nullptr;
    mbeeg::serial::clearMemoryPorts();
}

void Rig::setLinkType(int linkType) {
    user.m_linkType = linkType;
    detect.m_linkType = linkType;
}

void Rig::clearLogs() {
    for (auto& b : boards_) b->clearLog();
}

}  // namespace drivertest
