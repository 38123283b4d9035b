#include "marks_route/CPocketlogDlg.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "marks_route/Marks.h"
#include "marks_route/MarksExchange.h"

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
    const QString path = m_ui.GetSaveFileName(kKmlFilter, QStringLiteral("kml"));
    if (path.isEmpty()) {
        return;
    }
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
    std::string why;
    if (WriteMarksKml(QFile::encodeName(path).toStdString(), marks, &why) ==
        KmlWriteResult::Failed) {
        m_ui.ShowMessage(QStringLiteral("Не удалось записать файл %1:\n%2")
                             .arg(path, QString::fromStdString(why)),
                         UserInterface::Icon::Error);
        return;
    }
    if (marks.size() < announced) {
        m_ui.ShowMessage(QString::fromStdString(MarksIncompleteText(marks.size(), announced)),
                         UserInterface::Icon::Error);
        return;
    }
    m_ui.ShowMessage(QStringLiteral("Метки получены успешно"), UserInterface::Icon::Information);
}
