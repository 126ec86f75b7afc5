// The electrode list of the EEG setup dialog: one report row per EEG channel
// of all boards with the channel's settings, four cells coloured by its flags.
// It only displays; the dialog edits.
#pragma once

#include "driver/OpenBciParam.h"
#include "host/AcqFramework.h"
#include "platform/controls.h"

class CDriveOpnBciMutiBoard;
class CAcqChnlGeomzq;

class CListMultiBoardElectrode : public CMFCListCtrl {
    DECLARE_DYNAMIC(CListMultiBoardElectrode)
public:
    CListMultiBoardElectrode() = default;
    ~CListMultiBoardElectrode() override;

    CMFCHeaderCtrl& GetHeaderCtrl() override { return CMFCListCtrl::GetHeaderCtrl(); }
    COLORREF OnGetCellTextColor(int row, int column) override;
    COLORREF OnGetCellBkColor(int row, int column) override;
    HFONT OnGetCellFont(int row, int column, DWORD data = 0) override;

    int initImageLists();
    int initColumns();
    int insertChannelRow(int position, CAcqChnlGeomzq* record, OPENBCIPARAMV1* settings);
    int updateChannelRow(int channel);

    // Column texts of a channel's settings, shared by insertion and update.
    static CString powerDownText(const OPENBCIPARAMV1& p);
    static CString gainText(const OPENBCIPARAMV1& p);
    static CString biasText(const OPENBCIPARAMV1& p);
    static CString srb2Text(const OPENBCIPARAMV1& p);
    static CString srb1Text(const OPENBCIPARAMV1& p);
    static CString latencyText(const OPENBCIPARAMV1& p);

    // ---- members, in order
    CDriveOpnBciMutiBoard* m_pDriver = nullptr;
    CImageList* m_pImageLarge = nullptr;
    CImageList* m_pImageSmall = nullptr;

private:
    // Rebuilds the driver's channel lists (when it has a device and a dongle)
    // and returns the device's current list, or null.
    ChnGeomList* currentList();
};

class CListMultiBoardElectrodezq : public CListMultiBoardElectrode {
    DECLARE_DYNAMIC(CListMultiBoardElectrodezq)
};
