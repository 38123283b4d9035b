#include "app/QtUserInterface.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "controls/Settings.h"

namespace {

const QString kFileSection = QStringLiteral("Files");
const QString kFolderValue = QStringLiteral("Last folder");

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

// The folder the last file dialog ended in, while it still exists; else the home folder.
QString LastFolder() {
    const QString stored = ReadSettingString(kFileSection, kFolderValue, QString());
    return !stored.isEmpty() && QFileInfo(stored).isDir() ? stored : QDir::homePath();
}

// "kml" of "GPX (*.gpx)": the extension of a filter's first pattern, "" when it has none.
QString FilterSuffix(const QString& filter) {
    const qsizetype open = filter.lastIndexOf(QLatin1String("(*."));
    if (open < 0) {
        return {};
    }
    const qsizetype start = open + 3;
    qsizetype end = start;
    while (end < filter.size() && filter[end].isLetterOrNumber()) {
        ++end;
    }
    return filter.mid(start, end - start);
}

QString RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                      const QString& defaultSuffix, const QString& suggestedName,
                      QString* selectedFilter = nullptr) {
    QFileDialog dialog(parent, kProgramName, LastFolder());
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (selectedFilter != nullptr) {
        if (!selectedFilter->isEmpty()) {
            dialog.selectNameFilter(*selectedFilter);
        }
        dialog.setDefaultSuffix(FilterSuffix(dialog.selectedNameFilter()));
        QObject::connect(
            &dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString& chosen) { dialog.setDefaultSuffix(FilterSuffix(chosen)); });
    }
    if (!suggestedName.isEmpty()) {
        dialog.selectFile(suggestedName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    if (selectedFilter != nullptr) {
        *selectedFilter = dialog.selectedNameFilter();
    }
    const QString chosen = dialog.selectedFiles().constFirst();
    WriteSettingString(kFileSection, kFolderValue, QFileInfo(chosen).absolutePath());
    return chosen;
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

QString QtUserInterface::GetSaveFileName(const QString& filter, const QString& defaultSuffix,
                                         const QString& suggestedName) {
    return RunFileDialog(m_parent, QFileDialog::AcceptSave, filter, defaultSuffix, suggestedName);
}

QString QtUserInterface::GetOpenFileName(const QString& filter, const QString& defaultSuffix) {
    return RunFileDialog(m_parent, QFileDialog::AcceptOpen, filter, defaultSuffix, QString());
}

QString QtUserInterface::ChooseSaveFile(const QString& filters, const QString& suggestedName,
                                        QString& selectedFilter) {
    return RunFileDialog(m_parent, QFileDialog::AcceptSave, filters, QString(), suggestedName,
                         &selectedFilter);
}

QString QtUserInterface::GetExistingDirectory(const QString& start) {
    QFileDialog dialog(m_parent, kProgramName,
                       !start.isEmpty() && QFileInfo(start).isDir() ? start : LastFolder());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    const QString chosen = dialog.selectedFiles().constFirst();
    WriteSettingString(kFileSection, kFolderValue, QFileInfo(chosen).absolutePath());
    return chosen;
}
