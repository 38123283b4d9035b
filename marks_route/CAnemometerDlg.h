#pragma once
// The anemometer page: calibration against a reference instrument.

#include <cstdint>

#include "controls/CTabDialog.h"

class CLabel;
class QLineEdit;
class QPushButton;

// Sends the reference and onboard readings when their quotient is plausible.
class CAnemometerDlg : public CTabDialog {
    Q_OBJECT
public:
    CAnemometerDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);

    void LoadSettings() override;
    void SaveSettings() override;
    void OnSendCalibration();

    // The main window's verdict after the device query: supported enables the send
    // button and hides the notice; otherwise the button is disabled and the notice shown.
    void SetDeviceSupport(bool supported);
    // On disconnect: the button is disabled, the notice stays as it is.
    void DisableSend();

    QLineEdit* ReferenceField() const { return m_referenceEdit; }
    QLineEdit* OnboardField() const { return m_onboardEdit; }
    QPushButton* SendButton() const { return m_send; }
    CLabel* Warning() const { return m_warning; }
    uint8_t Reference() const { return m_reference; }
    uint8_t Onboard() const { return m_onboard; }

private:
    // Reads the fields in order; false when one was refused (the later ones are not read).
    bool ReadFields(bool quiet = false);

    uint8_t m_reference = 0;
    uint8_t m_onboard = 0;
    CLabel* m_warning;
    QLineEdit* m_referenceEdit;
    QLineEdit* m_onboardEdit;
    QPushButton* m_send;
};
