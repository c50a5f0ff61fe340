#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// A line's report file chooser: holds the report file name between showings, the folder it opens
// in and its title. File names and folders are bytes in the file system's encoding; the title is
// 8-bit ANSI text.
class TSaveDialog : public QObject {
    Q_OBJECT

public:
    explicit TSaveDialog(QObject* owner);

    std::string FileName;
    std::string InitialDir;
    std::string Title;
    std::string DefaultExt = "*.txt";
    // File types in the order offered: description and pattern.
    std::vector<std::pair<std::string, std::string>> Filter = {
        {"Text Files (*.txt)", "*.txt"}, {"Comma Separated Files (*.csv)", "*.csv"}};

    // Shows the dialog modally; true with FileName set when the operator accepted a name.
    bool Execute();

    // Tests choose the name (or cancel) here instead of in a real dialog. An empty function
    // restores the real dialog. Returns the previous hook.
    using ExecuteFunction = std::function<bool(TSaveDialog&)>;
    static ExecuteFunction SetExecuteHook(ExecuteFunction hook);

private:
    bool ExecuteDialog();
};
