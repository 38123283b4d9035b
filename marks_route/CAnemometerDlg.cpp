#include "marks_route/CAnemometerDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/CLabel.h"
#include "controls/Settings.h"
#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/UserTexts.h"
#include "marks_route/SettingsRules.h"

namespace {
const QString kSection = QStringLiteral("Anemometer");
const QString kReferenceEntry = QStringLiteral("Calibration Anemometer");
const QString kOnboardEntry = QStringLiteral("Onboard Anemometer");
}  // namespace

CAnemometerDlg::CAnemometerDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent),
      m_warning(new CLabel(QString::fromUtf8(UserText::kNoAnemometer), this)),
      m_referenceEdit(new QLineEdit(this)),
      m_onboardEdit(new QLineEdit(this)),
      m_send(new QPushButton(QStringLiteral("Передать"), this)) {
    m_warning->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QSizePolicy keepPlace = m_warning->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);  // the calibration group never moves
    m_warning->setSizePolicy(keepPlace);
    m_warning->hide();
    m_send->setEnabled(false);
    m_send->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    auto* group = new QGroupBox(QStringLiteral("Калибровка"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Калибровочный анемометер:"), group), 0, 0,
                    Qt::AlignRight);
    grid->addWidget(new QLabel(QStringLiteral("Бортовой анемометер:"), group), 1, 0,
                    Qt::AlignRight);
    grid->addWidget(m_referenceEdit, 0, 1);
    grid->addWidget(m_onboardEdit, 1, 1);
    grid->addWidget(m_send, 0, 2, 2, 1);
    grid->setColumnStretch(0, 1);
    for (QLineEdit* edit : {m_referenceEdit, m_onboardEdit}) {
        edit->setFixedWidth(60);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_warning);
    layout->addWidget(group);
    layout->addStretch(1);
    connect(m_send, &QPushButton::clicked, this, &CAnemometerDlg::OnSendCalibration);
}

void CAnemometerDlg::LoadSettings() {
    m_reference = uint8_t(ReadSettingInt(kSection, kReferenceEntry, 0) & 0xFF);
    m_onboard = uint8_t(ReadSettingInt(kSection, kOnboardEntry, 0) & 0xFF);
    m_warning->SetTextColor(QColor(255, 0, 0));
    m_referenceEdit->setText(QString::number(m_reference));
    m_onboardEdit->setText(QString::number(m_onboard));
}

void CAnemometerDlg::SaveSettings() {
    // At close a refused field keeps its last good value, without a message.
    ReadFields(true);
    WriteSettingInt(kSection, kReferenceEntry, m_reference);
    WriteSettingInt(kSection, kOnboardEntry, m_onboard);
}

bool CAnemometerDlg::ReadFields(bool quiet) {
    return ExchangeByteField(m_referenceEdit, m_reference, quiet) &&
           ExchangeByteField(m_onboardEdit, m_onboard, quiet);
}

void CAnemometerDlg::SetDeviceSupport(bool supported) {
    m_send->setEnabled(supported);
    m_warning->setVisible(!supported);
}

void CAnemometerDlg::DisableSend() {
    m_send->setEnabled(false);
}

void CAnemometerDlg::OnSendCalibration() {
    // A refused field has been reported; nothing is checked or sent.
    if (!ReadFields()) {
        return;
    }
    if (const char* refusal = CalibrationRefusal(m_reference, m_onboard)) {
        m_ui.ShowMessage(QString::fromUtf8(refusal), UserInterface::Icon::Error);
        return;
    }
    try {
        m_link.SendAnemometerCalibration(m_reference, m_onboard);
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    m_ui.ShowMessage(QString::fromUtf8(kCalibrationSent), UserInterface::Icon::Information);
}
