#include "marks_route/CUtcTimeDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/Settings.h"
#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "marks_route/SettingsRules.h"

CUtcTimeDlg::CUtcTimeDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent),
      m_hoursEdit(new QLineEdit(this)),
      m_minutesEdit(new QLineEdit(this)),
      m_send(new QPushButton(QStringLiteral("Передать"), this)) {
    auto* group = new QGroupBox(QStringLiteral("Сдвиг времени относительно UTC"), this);
    auto* row = new QHBoxLayout(group);
    row->addWidget(new QLabel(QStringLiteral("Часы:"), group));
    row->addWidget(m_hoursEdit);
    row->addSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Минуты:"), group));
    row->addWidget(m_minutesEdit);
    row->addSpacing(8);
    row->addWidget(m_send);
    for (QLineEdit* edit : {m_hoursEdit, m_minutesEdit}) {
        edit->setFixedWidth(60);
    }
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(group);
    top->addStretch(1);
    layout->addLayout(top);
    layout->addStretch(1);
    connect(m_send, &QPushButton::clicked, this, &CUtcTimeDlg::OnSendUtcOffset);
}

void CUtcTimeDlg::LoadSettings() {
    m_hours = uint8_t(ReadSettingInt(kUtcSettingsSection, kUtcHourSetting, 0) & 0xFF);
    m_minutes = uint8_t(ReadSettingInt(kUtcSettingsSection, kUtcMinuteSetting, 0) & 0xFF);
    m_hoursEdit->setText(QString::number(m_hours));
    m_minutesEdit->setText(QString::number(m_minutes));
}

void CUtcTimeDlg::SaveSettings() {
    // At close a refused field keeps its last good value, without a message.
    ReadFields(true);
    WriteSettingInt(kUtcSettingsSection, kUtcHourSetting, m_hours);
    WriteSettingInt(kUtcSettingsSection, kUtcMinuteSetting, m_minutes);
}

bool CUtcTimeDlg::ReadFields(bool quiet) {
    return ExchangeByteField(m_hoursEdit, m_hours, quiet) &&
           ExchangeByteField(m_minutesEdit, m_minutes, quiet);
}

void CUtcTimeDlg::OnSendUtcOffset() {
    // A refused field has been reported; nothing is checked or sent.
    if (!ReadFields()) {
        return;
    }
    if (const char* refusal = UtcOffsetRefusal(m_hours, m_minutes)) {
        m_ui.ShowMessage(QString::fromUtf8(refusal), UserInterface::Icon::Error);
        return;
    }
    try {
        m_link.SetUtcOffset(m_hours, m_minutes);
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    // The device's clock runs at this offset from now on: the track page's times take it.
    WriteSettingInt(kUtcSettingsSection, kUtcHourSetting, m_hours);
    WriteSettingInt(kUtcSettingsSection, kUtcMinuteSetting, m_minutes);
    m_ui.ShowMessage(QString::fromUtf8(kUtcOffsetSent), UserInterface::Icon::Information);
}
