#pragma once
// The route page: reads a route from a KML file and uploads it.

#include "controls/CTabDialog.h"

class QPushButton;

// One button: choose a KML file, read its Placemarks, send them as the route.
class CRouteDlg : public CTabDialog {
    Q_OBJECT
public:
    CRouteDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);

    void OnSendRoute();
    QPushButton* SendButton() const { return m_send; }

private:
    QPushButton* m_send;
};
