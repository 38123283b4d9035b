// The real message boxes and file dialogs behind the pages: Russian texts, the last folder,
// the suggested name.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "app/QtUserInterface.h"
#include "app/Translation.h"
#include "controls/Settings.h"
#include "support/GuiTestApp.h"

namespace {

// Runs check on the modal dialog that the next exec() opens.
void OnNextModal(std::function<void(QWidget*)> check) {
    QTimer::singleShot(0, [check = std::move(check)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            ADD_FAILURE() << "no modal dialog";
            return;
        }
        check(modal);
    });
}

class DialogsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_translated = InstallQtTranslation(GuiTestApp()); }
    void SetUp() override { ClearTestSettings(); }

    static bool s_translated;
    QtUserInterface m_ui;
};
bool DialogsTest::s_translated = false;

TEST_F(DialogsTest, QuestionButtonsReadDaAndNet) {
    ASSERT_TRUE(s_translated) << "Qt's Russian translation is missing (qt6-translations-l10n)";
    QString yes;
    QString no;
    QString caption;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        yes = box->button(QMessageBox::Yes)->text().remove('&');
        no = box->button(QMessageBox::No)->text().remove('&');
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(m_ui.AskYesNo("Очистить память треков?", UserInterface::Icon::Warning));
    EXPECT_EQ(yes, "Да");
    EXPECT_EQ(no, "Нет");
    EXPECT_EQ(caption, "Pelnora");
}

TEST_F(DialogsTest, FileDialogOpensInTheLastFolderWithTheSuggestedName) {
    QTemporaryDir first;
    QTemporaryDir second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    WriteSettingString("Files", "Last folder", first.path());

    QString openedIn;
    QString offered;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        openedIn = dialog->directory().absolutePath();
        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) {
            offered = name->text();
        }
        dialog->selectFile(second.filePath("chosen.kml"));
        static_cast<QDialog*>(dialog)->accept();
    });
    const QString chosen = m_ui.GetSaveFileName(kKmlFilter, "kml", "2024-06-14.kml");
    EXPECT_EQ(QDir(openedIn), QDir(first.path()));
    EXPECT_EQ(offered, "2024-06-14.kml");
    EXPECT_EQ(chosen, second.filePath("chosen.kml"));
    // The folder chosen is where the next dialog opens, also one for reading.
    EXPECT_EQ(QDir(ReadSettingString("Files", "Last folder", "")), QDir(second.path()));
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        openedIn = dialog->directory().absolutePath();
        dialog->reject();
    });
    EXPECT_TRUE(m_ui.GetOpenFileName(kKmlFilter, "kml").isEmpty());
    EXPECT_EQ(QDir(openedIn), QDir(second.path()));
}

// Several filters: the one given is shown first, the default suffix follows the filter the user
// picks, and the pick comes back. The folder dialog opens where asked and returns the folder.
TEST_F(DialogsTest, SaveDialogWithFormatsAndTheFolderDialog) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    WriteSettingString("Files", "Last folder", folder.path());
    const QString filters = "A (*.kml);;GPX (*.gpx);;IGC (папка) (*.igc)";
    QString shown;
    QString suffix;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        shown = dialog->selectedNameFilter();
        dialog->selectNameFilter("A (*.kml)");
        emit dialog->filterSelected("A (*.kml)");
        suffix = dialog->defaultSuffix();
        dialog->selectFile(folder.filePath("flights"));
        static_cast<QDialog*>(dialog)->accept();
    });
    QString selected = "GPX (*.gpx)";
    const QString chosen = m_ui.ChooseSaveFile(filters, "2024-06-14.gpx", selected);
    EXPECT_EQ(shown, "GPX (*.gpx)");
    EXPECT_EQ(suffix, "kml");
    EXPECT_EQ(selected, "A (*.kml)");
    EXPECT_EQ(chosen, folder.filePath("flights.kml"));

    QString openedIn;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        openedIn = dialog->directory().absolutePath();
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        dialog->selectFile(folder.path());
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(QDir(m_ui.GetExistingDirectory(folder.path())), QDir(folder.path()));
    EXPECT_EQ(QDir(openedIn), QDir(folder.path()));
}

TEST_F(DialogsTest, FolderThatIsGoneFallsBackToHome) {
    WriteSettingString("Files", "Last folder", "/nonexistent/pelnora-folder");
    QString openedIn;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        openedIn = dialog->directory().absolutePath();
        dialog->reject();
    });
    EXPECT_TRUE(m_ui.GetSaveFileName(kKmlFilter, "kml").isEmpty());
    EXPECT_EQ(QDir(openedIn), QDir(QDir::homePath()));
    EXPECT_EQ(ReadSettingString("Files", "Last folder", ""), "/nonexistent/pelnora-folder");
}

}  // namespace
