#include "app/UserInterface.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon BoxIcon(UserInterface::Icon icon) {
    switch (icon) {
        case UserInterface::Icon::Information:
            return QMessageBox::Information;
        case UserInterface::Icon::Error:
            return QMessageBox::Critical;
        case UserInterface::Icon::Question:
            return QMessageBox::Question;
        case UserInterface::Icon::Warning:
            return QMessageBox::Warning;
        case UserInterface::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QString RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                      const QString& defaultSuffix) {
    QFileDialog dialog(parent, kProgramName);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

void QtUserInterface::ShowMessage(const QString& text, Icon icon) {
    QMessageBox box(BoxIcon(icon), kProgramName, text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool QtUserInterface::AskYesNo(const QString& text, Icon icon) {
    QMessageBox box(BoxIcon(icon), kProgramName, text, QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    return box.exec() == QMessageBox::Yes;
}

QString QtUserInterface::GetSaveFileName(const QString& filter, const QString& defaultSuffix) {
    return RunFileDialog(m_parent, QFileDialog::AcceptSave, filter, defaultSuffix);
}

QString QtUserInterface::GetOpenFileName(const QString& filter, const QString& defaultSuffix) {
    return RunFileDialog(m_parent, QFileDialog::AcceptOpen, filter, defaultSuffix);
}
