#pragma once
// The About box: name and version, rights notice, the device's description page.

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;

// Modal box; links open in the user's browser and the box stays open.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static const QString kVersionText;
    static const QString kMakerUrl;
    static const QString kDeviceUrl;

    explicit CAboutDlg(QWidget* parent = nullptr);

    // How links are opened (QDesktopServices by default; tests put a recorder here).
    void SetUrlOpener(std::function<void(const QUrl&)> opener) { m_opener = std::move(opener); }
    void OnLinkClicked(const QString& url);

    QLabel* VersionLabel() const { return m_version; }
    QLabel* RightsLink() const { return m_rights; }
    QLabel* DeviceLink() const { return m_device; }

private:
    QLabel* m_version;
    QLabel* m_rights;
    QLabel* m_device;
    std::function<void(const QUrl&)> m_opener;
};
