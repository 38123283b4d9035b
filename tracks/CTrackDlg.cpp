#include "tracks/CTrackDlg.h"

CTrackDlg::CTrackDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent) {}

CTrackDlg::~CTrackDlg() = default;

void CTrackDlg::LoadSettings() {}

void CTrackDlg::SaveSettings() {}
