// The acquisition entry points: connect, channel list, data set, start, stop.
#pragma once

#include "driver/DriveOpnBciMutiBoard07Impedance.h"

class CWnd;
class CDialog;

class CDriveOpnBciMutiBoard09Acq : public CDriveOpnBciMutiBoard07Impedance {
public:
    CDriveOpnBciMutiBoard09Acq() = default;
    ~CDriveOpnBciMutiBoard09Acq() override;

    int _01findConnectHdwr(CHdwrConfigzq* cfg, CMeAcqDatazq* data);
    int _02connectCom2Device(CHdwrConfigzq* cfg, CMeAcqDatazq* data);
    int _03makeAcgSns();
    int _09CheckInitTrlChn(CMeAcqDatazq* data, int record);
    int AcqMonit(CMeAcqDatazq* data, CWnd* wnd);
    int AcqRecord(CMeAcqDatazq* data, CWnd* wnd);
    int AcqStop();
    int setupAcg(CWnd* wnd, CDialog* dlg);
    ChnGeomList* getHdwrAcg();
    int manageAcqInitInfo(int unused);
};
