#include "app/CAboutDlg.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include "app/AppIcon.h"

const QString CAboutDlg::kVersionText = QStringLiteral("Ombrelt, версия 1.3.0.1550");
const QString CAboutDlg::kMakerUrl = QStringLiteral("https://pelnora.example.org/");
const QString CAboutDlg::kDeviceUrl = QStringLiteral("https://pelnora.example.org/device/");

namespace {

QLabel* LinkLabel(const QString& html, QWidget* parent) {
    auto* label = new QLabel(html, parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setOpenExternalLinks(false);
    label->setFocusPolicy(Qt::TabFocus);
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      m_version(new QLabel(kVersionText, this)),
      m_rights(LinkLabel(
          QStringLiteral("© 2026 <a href=\"%1\">Velmarin</a>. Все права защищены.").arg(kMakerUrl),
          this)),
      m_device(LinkLabel(
          QStringLiteral("<a href=\"%1\">Веб-страница с описанием устройства</a>").arg(kDeviceUrl),
          this)),
      m_opener([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setWindowTitle(QStringLiteral("О программе"));
    m_version->setTextFormat(Qt::PlainText);

    auto* icon = new QLabel(this);
    icon->setPixmap(PelnoraIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(8);
    grid->setContentsMargins(14, 14, 14, 12);
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(m_version, 0, 1);
    grid->addWidget(m_rights, 1, 1);
    grid->addWidget(m_device, 2, 1);
    grid->addWidget(buttons, 3, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_rights, &QLabel::linkActivated, this, &CAboutDlg::OnLinkClicked);
    connect(m_device, &QLabel::linkActivated, this, &CAboutDlg::OnLinkClicked);
}

void CAboutDlg::OnLinkClicked(const QString& url) {
    m_opener(QUrl(url));
}
