#include "marks_route/CRouteDlg.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/UserTexts.h"
#include "marks_route/Route.h"

const QString kRouteFilter = QStringLiteral("KML и GPX (*.kml *.gpx);;") + kKmlFilter +
                             QStringLiteral(";;GPX (*.gpx);;Все файлы (*)");

CRouteDlg::CRouteDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent), m_send(new QPushButton(QStringLiteral("Передать"), this)) {
    auto* top = new QHBoxLayout;
    top->addWidget(m_send);
    top->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addStretch(1);
    connect(m_send, &QPushButton::clicked, this, &CRouteDlg::OnSendRoute);
}

void CRouteDlg::OnSendRoute() {
    const QString path = m_ui.GetOpenFileName(kRouteFilter, QStringLiteral("kml"));
    if (path.isEmpty()) {
        return;
    }
    // A refused file sends nothing; an empty route or left-out entries only when agreed to.
    const RouteReading reading = ReadRouteFile(QFile::encodeName(path).toStdString());
    if (reading.Refused()) {
        m_ui.ShowMessage(QString::fromStdString(reading.refusal), UserInterface::Icon::Error);
        return;
    }
    if (reading.NeedsConfirmation() &&
        !m_ui.AskYesNo(QString::fromStdString(reading.Question()), UserInterface::Icon::Question)) {
        return;
    }
    if (const std::string warning = reading.Warning(); !warning.empty()) {
        m_ui.ShowMessage(QString::fromStdString(warning), UserInterface::Icon::Warning);
    }
    try {
        if (!m_link.UploadRoute(reading.points)) {
            m_ui.ShowMessage(QStringLiteral("В маршруте больше 255 точек. Маршрут не передан."),
                             UserInterface::Icon::Error);
            return;
        }
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    m_ui.ShowMessage(QString::fromUtf8(UserText::kRouteSent), UserInterface::Icon::Information);
}
