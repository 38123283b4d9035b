#include "marks_route/CPocketlogDlg.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/Settings.h"
#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/UserTexts.h"
#include "marks_route/Marks.h"
#include "marks_route/MarksExchange.h"
#include "marks_route/MarksGpx.h"
#include "tracks/TrackDownload.h"

CPocketlogDlg::CPocketlogDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent), m_get(new QPushButton(QStringLiteral("Получить"), this)) {
    auto* top = new QHBoxLayout;
    top->addWidget(m_get);
    top->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addStretch(1);
    connect(m_get, &QPushButton::clicked, this, &CPocketlogDlg::OnGetMarks);
}

void CPocketlogDlg::OnGetMarks() {
    // The file is chosen first, so a download always has a destination.
    QStringList filters;
    for (const MarksFormatInfo& info : kMarksFormats) {
        filters << QString::fromStdString(MarksFormatFilter(info));
    }
    const MarksFormat stored =
        MarksFormatByCliName(
            ReadSettingString(kMarksSettingsSection, kFormatSetting, QString()).toStdString())
            .value_or(MarksFormat::Kml);
    QString filter = QString::fromStdString(MarksFormatFilter(MarksFormatOf(stored)));
    const QString path = m_ui.ChooseSaveFile(filters.join(QStringLiteral(";;")), QString(), filter);
    if (path.isEmpty()) {
        return;
    }
    MarksFormat format = MarksFormat::Kml;
    for (const MarksFormatInfo& info : kMarksFormats) {
        if (filter == QString::fromStdString(MarksFormatFilter(info))) {
            format = info.format;
        }
    }
    WriteSettingString(kMarksSettingsSection, kFormatSetting,
                       QString::fromUtf8(MarksFormatOf(format).cliName));
    std::vector<PackedPosition> marks;
    unsigned announced = 0;
    try {
        bool answered = true;
        marks = m_link.ReadMarks(&answered, &announced);
        if (!answered) {
            m_ui.ShowMessage(QStringLiteral("Прибор не ответил на запрос меток. Файл не записан."),
                             UserInterface::Icon::Error);
            return;
        }
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    // Marks that came only in part never replace an older file: they go beside it.
    const bool complete = marks.size() >= announced;
    const std::string file = TrackOutputPath(QFile::encodeName(path).toStdString(), complete);
    const QString written = QFile::decodeName(QByteArray::fromStdString(file));
    std::string why;
    if (WriteMarks(format, file, marks, &why) == KmlWriteResult::Failed) {
        m_ui.ShowMessage(QStringLiteral("Не удалось записать файл %1:\n%2")
                             .arg(written, QString::fromStdString(why)),
                         UserInterface::Icon::Error);
        return;
    }
    if (!complete) {
        QString text = QString::fromStdString(MarksIncompleteText(marks.size(), announced));
        if (!marks.empty() && written != path) {
            text += QStringLiteral(" Записаны в файл ") + written;
        }
        m_ui.ShowMessage(text, UserInterface::Icon::Error);
        return;
    }
    m_ui.ShowMessage(QString::fromUtf8(UserText::kMarksReceived), UserInterface::Icon::Information);
}
