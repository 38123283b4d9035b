#pragma once
// The track page: interval, table of tracks, download into KML, memory clearing.

#include "controls/CTabDialog.h"

// The track page of the tab control.
class CTrackDlg : public CTabDialog {
    Q_OBJECT
public:
    CTrackDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);
    ~CTrackDlg() override;

    void LoadSettings() override;
    void SaveSettings() override;
};
