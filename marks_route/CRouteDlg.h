#pragma once
// The route page: reads a route from a KML or GPX file and uploads it.

#include "controls/CTabDialog.h"

class QPushButton;

// The route file dialog's filters: both kinds together, then each.
extern const QString kRouteFilter;

// One button: choose a route file, read its points, send them as the route.
class CRouteDlg : public CTabDialog {
    Q_OBJECT
public:
    CRouteDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);

    void OnSendRoute();
    QPushButton* SendButton() const { return m_send; }

private:
    QPushButton* m_send;
};
