#pragma once
// The marks page: downloads the device's marks into a KML file.

#include "controls/CTabDialog.h"

class QPushButton;

// One button: choose a file, read the marks, write them as KML.
class CPocketlogDlg : public CTabDialog {
    Q_OBJECT
public:
    CPocketlogDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);

    void OnGetMarks();
    QPushButton* GetButton() const { return m_get; }

private:
    QPushButton* m_get;
};
