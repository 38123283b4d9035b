#pragma once
// Common base of the six pages held by the tab control.

#include <QWidget>

class DeviceLink;
class UserInterface;

// A page: reaches the link and the user through the main window's context.
class CTabDialog : public QWidget {
    Q_OBJECT
public:
    CTabDialog(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr)
        : QWidget(parent), m_link(link), m_ui(ui) {}

    // Reads the page's persisted values (when the page opens).
    virtual void LoadSettings() {}
    // Writes them (when the page is destroyed).
    virtual void SaveSettings() {}

protected:
    DeviceLink& m_link;
    UserInterface& m_ui;
};
