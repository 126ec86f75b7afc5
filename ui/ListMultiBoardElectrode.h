// The electrode list of the EEG setup dialog: one report row per EEG channel
// of all boards with the channel's settings, four cells coloured by its flags.
// It only displays; the dialog edits.
#pragma once

#include <cstdint>
#include <map>

#include "common/OpenBciParam.h"
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
    // Rewrites the settings cells of a channel's row (power to latency) from
    // its record, so that the texts agree with the colours at once.
    int showChannelSettings(int channel);

    // Column texts of a channel's settings, shared by insertion and update.
    static CString powerDownText(const OPENBCIPARAMV1& p);
    static CString gainText(const OPENBCIPARAMV1& p);
    static CString biasText(const OPENBCIPARAMV1& p);
    static CString srb2Text(const OPENBCIPARAMV1& p);
    static CString srb1Text(const OPENBCIPARAMV1& p);
    static CString latencyText(const OPENBCIPARAMV1& p);

    // The gain a board's channel runs at after power-up or a reset; a row the
    // dialog has not set yet shows it rather than the record's default.
    static constexpr int kBoardGain = 24;

    // The driver rebuilds its channel lists with fresh records (default
    // settings, list row 0) before every read. What the dialog has shown or
    // sent for a channel is kept here, by position in the channel list, and
    // put back on the fresh records, so that rows, colours and row numbers
    // stay those of the settings the boards hold.
    void rememberSettings(int position, const OPENBCIPARAMV1& settings);
    void forgetSettings();
    // Puts the kept settings on the records of the driver's current list
    // (forgetting them when the layout changed); returns that list or null.
    ChnGeomList* restoreSettings(CDriveOpnBciMutiBoard* driver);
    // Rebuilds the driver's lists (with a device and at least one dongle),
    // then restores; returns the device's current list, or null.
    ChnGeomList* refreshLists(CDriveOpnBciMutiBoard* driver);

    // One paint of the backend: the channel lists are rebuilt for its first
    // cell only, not for each of them.
    void beginCellQueries() override;
    void endCellQueries() override;

    // ---- members, in order
    CDriveOpnBciMutiBoard* m_pDriver = nullptr;
    CImageList* m_pImageLarge = nullptr;
    CImageList* m_pImageSmall = nullptr;

private:
    // Power down to latency, cells 2 to 8 of a row; FALSE at the first that fails.
    BOOL setSettingsTexts(int row, const OPENBCIPARAMV1& p);

    std::map<int, OPENBCIPARAMV1> m_kept;
    std::uint32_t m_keptListSize = 0;
    DEVICE_LINK_TYPE m_keptLinkType = 0;
    int m_queryDepth = 0;
    bool m_queryRebuilt = false;
};

class CListMultiBoardElectrodezq : public CListMultiBoardElectrode {
    DECLARE_DYNAMIC(CListMultiBoardElectrodezq)
};
