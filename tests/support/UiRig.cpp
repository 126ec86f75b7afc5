#include "tests/support/UiRig.h"

#include <algorithm>

#include "serialport/Backend.h"

namespace uitest {

UiRig::UiRig(int boards, DEVICE_LINK_TYPE linkType) : boxes(IDNO) {
    mbeeg::serial::setRealPortsEnabled(false);
    mbeeg::serial::clearMemoryPorts();
    if (boards > 0) {
        rig = std::make_unique<sim::SimRig>(sim::SimConfig{.boards = boards, .seed = 7});
        rig->plugIn();
    }
    cfg.m_linkType = linkType;
    cfg.m_name = L"ui-test";
    driver = std::make_unique<CDriveOpnBciMutiBoardzq>();
}

UiRig::~UiRig() {
    driver->cleanDevice();
    driver->cleanConfigComBle2Board();
    driver->cleanCloseFaceCom();
    driver.reset();
    rig.reset();
    mbeeg::serial::clearMemoryPorts();
}

int UiRig::connect() { return driver->_01findConnectHdwr(&cfg, &data); }

bool UiRig::sawMessage(const wchar_t* text) const {
    auto all = boxes.texts();
    return std::find(all.begin(), all.end(), std::wstring(text)) != all.end();
}

}  // namespace uitest
