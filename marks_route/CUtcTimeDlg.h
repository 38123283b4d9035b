#pragma once
// The UTC page: the device's time offset from UTC in hours and minutes.

#include <cstdint>

#include "controls/CTabDialog.h"

class QLineEdit;
class QPushButton;

// Sends the offset with SetUtcOffset; remembers both fields between runs.
class CUtcTimeDlg : public CTabDialog {
    Q_OBJECT
public:
    CUtcTimeDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);

    void LoadSettings() override;
    void SaveSettings() override;
    void OnSendUtcOffset();

    QLineEdit* HoursField() const { return m_hoursEdit; }
    QLineEdit* MinutesField() const { return m_minutesEdit; }
    QPushButton* SendButton() const { return m_send; }
    uint8_t Hours() const { return m_hours; }
    uint8_t Minutes() const { return m_minutes; }

private:
    // Reads the fields in order; false when one was refused (the later ones are not read).
    bool ReadFields(bool quiet = false);

    uint8_t m_hours = 0;
    uint8_t m_minutes = 0;
    QLineEdit* m_hoursEdit;
    QLineEdit* m_minutesEdit;
    QPushButton* m_send;
};
