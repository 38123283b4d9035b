#include "marks_route/CRouteDlg.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "marks_route/Route.h"

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
    const QString path = m_ui.GetOpenFileName(kKmlFilter, QStringLiteral("kml"));
    if (path.isEmpty()) {
        return;
    }
    // A file that cannot be read, is not well-formed or holds too many points sends nothing.
    std::vector<RoutePoint> route;
    std::string why;
    if (!LoadRouteFile(QFile::encodeName(path).toStdString(), route, &why)) {
        const QString text =
            why.empty() ? QStringLiteral("Не удалось прочитать маршрут из файла %1").arg(path)
                        : QString::fromStdString(why);
        m_ui.ShowMessage(text, UserInterface::Icon::Error);
        return;
    }
    try {
        if (!m_link.UploadRoute(route)) {
            m_ui.ShowMessage(QStringLiteral("В маршруте больше 255 точек. Маршрут не передан."),
                             UserInterface::Icon::Error);
            return;
        }
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    m_ui.ShowMessage(QStringLiteral("Маршрут передан успешно"), UserInterface::Icon::Information);
}
