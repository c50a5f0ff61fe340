#include "ui/save_dialog.h"

#include "runtime/ansi_text.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QRegularExpression>

namespace {

TSaveDialog::ExecuteFunction& ExecuteHook() {
    static TSaveDialog::ExecuteFunction hook;
    return hook;
}

// "*.txt" -> "txt": the suffix a name typed without one receives.
QString SuffixOfPattern(const std::string& pattern) {
    QString suffix = QString::fromStdString(pattern);
    suffix.remove(QRegularExpression(QStringLiteral("^\\*?\\.")));
    return suffix;
}

} // namespace

TSaveDialog::TSaveDialog(QObject* owner) : QObject(owner) {}

TSaveDialog::ExecuteFunction TSaveDialog::SetExecuteHook(ExecuteFunction hook) {
    ExecuteFunction previous = std::move(ExecuteHook());
    ExecuteHook() = std::move(hook);
    return previous;
}

bool TSaveDialog::Execute() {
    if (ExecuteHook())
        return ExecuteHook()(*this);
    return ExecuteDialog();
}

bool TSaveDialog::ExecuteDialog() {
    QFileDialog dialog(QApplication::activeWindow(), AnsiToQString(Title),
                       QFile::decodeName(InitialDir.c_str()));
    dialog.setObjectName(objectName());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& type : Filter)
        filters << AnsiToQString(type.first);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(SuffixOfPattern(DefaultExt));
    // A name typed without an extension gets the one of the file type on show.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [this, &dialog, filters](const QString& chosen) {
                         const qsizetype index = filters.indexOf(chosen);
                         if (index >= 0)
                             dialog.setDefaultSuffix(
                                 SuffixOfPattern(Filter[static_cast<std::size_t>(index)].second));
                     });
    if (!FileName.empty())
        dialog.selectFile(QFile::decodeName(FileName.c_str()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
    return true;
}
