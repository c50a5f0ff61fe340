// The report file chooser shown for real: title, folder, file types, the extension a bare name
// receives, and no question when an existing file is chosen.

#include "tests/ui/forms_fixture.h"
#include "ui/save_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

namespace {

// Runs Execute() on a real dialog, acting in it as the operator would.
bool ExecuteWith(TSaveDialog& dialog, const std::function<void(QFileDialog*)>& act,
                 std::vector<std::string>* seen = nullptr) {
    ModalDriver driver([&](QWidget* modal) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        if (files == nullptr) {
            modal->close(); // anything else, such as a question, is unexpected
            return;
        }
        act(files);
    });
    const bool accepted = dialog.Execute();
    if (seen != nullptr)
        *seen = driver.Seen;
    EXPECT_FALSE(driver.Stuck);
    return accepted;
}

} // namespace

class SaveDialogTest : public ::testing::Test {
protected:
    TSaveDialog dialog{nullptr};
    QTemporaryDir folder;
    std::string Folder() const { return QFile::encodeName(folder.path()).toStdString() + "/"; }
};

TEST_F(SaveDialogTest, OpensInTheInitialFolderWithTitleAndFileTypes) {
    dialog.setObjectName(QStringLiteral("SaveDialog3"));
    dialog.Title = "Save Packing Reports As";
    dialog.InitialDir = Folder();
    QString title;
    QString directory;
    QStringList filters;
    bool native = true;
    const bool accepted = ExecuteWith(dialog, [&](QFileDialog* files) {
        title = files->windowTitle();
        directory = files->directory().absolutePath();
        filters = files->nameFilters();
        native = !files->testOption(QFileDialog::DontUseNativeDialog);
        files->reject();
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(title, QStringLiteral("Save Packing Reports As"));
    EXPECT_EQ(directory, folder.path());
    EXPECT_EQ(filters, (QStringList{"Text Files (*.txt)", "Comma Separated Files (*.csv)"}));
    EXPECT_FALSE(native);
    EXPECT_EQ(dialog.FileName, "");
}

TEST_F(SaveDialogTest, BareNameGetsTheExtensionOfTheChosenFileType) {
    dialog.InitialDir = Folder();
    const struct {
        int FileType;
        const char* Typed;
        const char* Expected;
    } cases[] = {
        {0, "press", "press.txt"}, {1, "press", "press.csv"}, {0, "press.log", "press.log"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Typed);
        dialog.FileName.clear();
        const bool accepted = ExecuteWith(dialog, [&](QFileDialog* files) {
            // The operator picks the file type with the keyboard.
            auto* types = files->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            for (int step = 0; step < c.FileType; ++step)
                QTest::keyClick(types, Qt::Key_Down);
            // And types the name into the name field: selectFile() leaves a field that has the
            // focus alone, and the keys above may have activated the window.
            auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name->clear();
            QTest::keyClicks(name, QString::fromLatin1(c.Typed));
            static_cast<QDialog*>(files)->accept(); // as the Save button does
        });
        EXPECT_TRUE(accepted);
        EXPECT_EQ(dialog.FileName, Folder() + c.Expected);
    }
}

TEST_F(SaveDialogTest, ExistingFileIsTakenWithoutAQuestion) {
    const std::string existing = Folder() + "old.txt";
    QFile file(QFile::decodeName(existing.c_str()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    dialog.InitialDir = Folder();
    std::vector<std::string> seen;
    const bool accepted = ExecuteWith(
        dialog,
        [&](QFileDialog* files) {
            files->selectFile(QStringLiteral("old.txt"));
            static_cast<QDialog*>(files)->accept(); // as the Save button does
        },
        &seen);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(dialog.FileName, existing);
    EXPECT_EQ(seen.size(), 1u) << "no overwrite question";
}
