#include "capture/production_line.h"

#include "capture/daily_report_file.h"
#include "capture/line_watch.h"
#include "capture/report_file.h"
#include "capture/stamps.h"
#include "runtime/posix_io.h"
#include "runtime/service_state_folder.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

char DelimiterFromCode(int code) {
    switch (code) {
    case 1:
        return ' ';
    case 2:
        return '\t';
    case 3:
        return ';';
    default:
        return ',';
    }
}

ReportWriter& ProductionLine::Writer() {
    if (!Reports)
        Reports = std::make_unique<ReportWriter>();
    return *Reports;
}

ProductionLines::ProductionLines() {
    for (int line = 1; line <= LineCount; ++line) {
        Line(line).Caption = "Line " + std::to_string(line);
        Line(line).SharedCaption = Line(line).Caption;
        // The writer's news crosses to the GUI thread as a queued call, never waiting for it.
        Line(line).Reports = std::make_unique<ReportWriter>([this, line] {
            QMetaObject::invokeMethod(
                this, [this, line] { emit ReportsChanged(line); }, Qt::QueuedConnection);
        });
    }
    watch_ = std::make_unique<LineWatch>(*this);
}

ProductionLines::~ProductionLines() = default;

void ProductionLines::SetCaption(int line, const std::string& caption) {
    Line(line).Caption = caption;
    Line(line).SharedCaption = caption;
    emit CaptionChanged(line);
}

void ProductionLines::SetStarted(int line, bool started) {
    if (Line(line).Started.exchange(started) != started)
        emit StartedChanged(line);
}

int ProductionLines::PortChoice(int line, const PortSettingKind& kind) const {
    const int index = Line(line).Port.*kind.Index;
    return index >= 0 ? index : kind.Default(line);
}

void RefreshDelimiters(ProductionLines& lines) {
    for (int line = 1; line <= LineCount; ++line)
        lines.Line(line).Capture.Delimiter = DelimiterFromCode(lines.Line(line).DelimiterCode);
}

namespace {

constexpr std::chrono::seconds FinishPatience{5};

std::string Lines(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " report line" : " report lines");
}

// Where held lines go when the folder beside the settings cannot take them either (a full or
// read-only disk): the user's state folder, then the machine's temporary folders.
std::vector<std::string> UnsavedFolders(const std::string& folder) {
    std::vector<std::string> folders{folder};
    if (const std::string state = UserStateFolder(); !state.empty())
        folders.push_back(state);
    folders.insert(folders.end(), {"/var/tmp", "/tmp"});
    return folders;
}

// Appends text, and its last line's end, to a file of lines set aside, made with its folder when
// missing. A full disk may take the file and none of its text: no empty file is left then.
// Empty, or what failed: "<file> (<error>)".
std::string AppendSaved(const std::string& file, const std::string& text) {
    std::error_code ignored;
    const bool existed = std::filesystem::exists(file, ignored);
    try {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
        AppendReportLine(file, text);
        return std::string();
    } catch (const std::exception& error) {
        if (!existed && std::filesystem::file_size(file, ignored) == 0 && !ignored)
            std::filesystem::remove(file, ignored);
        return file + " (" + error.what() + ")";
    }
}

} // namespace

std::string UnsavedFileName(const std::string& folder, const std::string& reportFile) {
    const std::string name = std::filesystem::path(reportFile).filename().string();
    return (std::filesystem::path(folder) / ((name.empty() ? "report" : name) + ".unsaved"))
        .string();
}

std::string PartialFileName(const std::string& folder, const std::string& reportFile) {
    const std::string name = std::filesystem::path(reportFile).filename().string();
    return (std::filesystem::path(folder) / ((name.empty() ? "report" : name) + ".partial"))
        .string();
}

namespace {

// <folder>/<report file's name>.unsaved; from n = 2 on, <name>.<n>.unsaved.
std::string NumberedUnsavedName(const std::string& folder, const std::string& reportFile, int n) {
    const std::string name = UnsavedFileName(folder, reportFile);
    return n == 1 ? name
                  : name.substr(0, name.size() - std::strlen(".unsaved")) + "." +
                        std::to_string(n) + ".unsaved";
}

// Lines set aside by one end or one start. Each .unsaved file holds the lines of one report file:
// two files of one name in different folders get a number, so that nobody has to tell their
// lines apart.
class SetAside {
public:
    // One append: the lines of a file go whole into the first of the places that takes them, or
    // not at all. Gives the file they went to, and what failed, empty when one place took them.
    std::pair<std::string, std::string> Save(const std::vector<std::string>& places,
                                             const std::string& reportFile,
                                             const std::string& text) {
        std::string unsaved;
        std::string failure;
        for (const std::string& place : places) {
            unsaved = Name(place, reportFile);
            const std::string failed = AppendSaved(unsaved, text);
            if (failed.empty())
                return {unsaved, std::string()};
            failure += (failure.empty() ? "" : ", ") + failed;
        }
        return {unsaved, failure};
    }

private:
    std::string Name(const std::string& place, const std::string& reportFile) {
        for (int n = 1;; ++n) {
            const std::string name = NumberedUnsavedName(place, reportFile, n);
            const auto [at, added] = fileOf_.emplace(name, reportFile);
            if (added || at->second == reportFile)
                return name;
        }
    }

    std::map<std::string, std::string> fileOf_; // the report file of each .unsaved file
};

} // namespace

std::string TakeBackPartialLine(ProductionLine& line, const std::string& folder) {
    const std::string file = line.ReportFile.Get();
    for (const std::string& place : UnsavedFolders(folder)) {
        const std::string name = PartialFileName(place, file);
        std::ifstream kept(name, std::ios::binary);
        if (!kept)
            continue;
        std::string text((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
        kept.close();
        // Taken back only once it is gone, so that it can never be completed twice.
        std::error_code failed;
        if (!std::filesystem::remove(name, failed) || failed)
            return std::string();
        std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
        line.Capture.PendingText = text + line.Capture.PendingText;
        line.Capture.MidLine = !line.Capture.PendingText.empty();
        return text.empty() ? std::string()
                            : line.Caption + ": the report line that had not ended at the last " +
                                  "stop goes on (" + std::to_string(text.size()) + " bytes)";
    }
    return std::string();
}

std::string HeldFileName(const std::string& folder, const std::string& reportFile, int line) {
    const std::string name = std::filesystem::path(reportFile).filename().string();
    return (std::filesystem::path(folder) /
            ((name.empty() ? "report" : name) + ".line" + std::to_string(line) + ".held"))
        .string();
}

void ProductionLines::KeepHeldLinesIn(const std::string& folder) {
    for (int n = 1; n <= LineCount; ++n)
        Line(n).Writer().KeepHeldIn([folder, n](const std::string& reportFile) {
            std::vector<std::string> names;
            for (const std::string& place : UnsavedFolders(folder))
                names.push_back(HeldFileName(place, reportFile, n));
            return names;
        });
}

std::vector<std::string> RecoverHeldLines(const ProductionLines& lines, const std::string& folder) {
    // "<report file's name>.line<n>.held": the report file's name and n, or an empty name for no
    // spool.
    const auto reportName = [](std::string leaf) {
        // A spool being written anew when the run ended: it may hold lines the spool lacks.
        if (leaf.ends_with(".held.new"))
            leaf.resize(leaf.size() - std::strlen(".new"));
        constexpr std::string_view Tail = ".held";
        constexpr std::string_view Line = ".line";
        const std::size_t size = leaf.size();
        if (size <= Tail.size() + Line.size() + 1 || !leaf.ends_with(Tail))
            return std::pair{std::string(), 0};
        const std::size_t digit = size - Tail.size() - 1;
        const std::size_t line = digit - Line.size();
        if (leaf[digit] < '1' || leaf[digit] > '8' || leaf.compare(line, Line.size(), Line) != 0)
            return std::pair{std::string(), 0};
        return std::pair{leaf.substr(0, line), leaf[digit] - '0'};
    };
    std::vector<std::string> said;
    SetAside setAside;
    for (const std::string& place : UnsavedFolders(folder)) {
        std::error_code failed;
        std::vector<std::filesystem::directory_entry> entries;
        try {
            for (const auto& entry : std::filesystem::directory_iterator(place, failed))
                entries.push_back(entry);
        } catch (const std::filesystem::filesystem_error&) {
            // A folder that cannot be read to its end: the spools found so far are saved.
        }
        // Line by line, so that the same spools always get the same numbers.
        std::sort(entries.begin(), entries.end());
        for (const auto& entry : entries) {
            const auto [name, line] = reportName(entry.path().filename().string());
            if (name.empty() || !entry.is_regular_file(failed))
                continue;
            const std::string spool = entry.path().string();
            const FileDescriptor fd = OpenRetrying(spool, O_RDWR | O_CLOEXEC | O_NOCTTY);
            // Locked: a running writer's, whose lines are still on their way. Another user's, in
            // a shared folder, is theirs to save: it could not be removed once saved.
            struct stat status {};
            if (!fd.Valid() || ::fstat(fd.Get(), &status) != 0 || status.st_uid != ::geteuid() ||
                ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
                continue;
            std::string text;
            if (ReadRegularFile(fd.Get(), std::size_t{1} << 30, text) != 0)
                continue;
            // The header names the report file in full: spools of other files of the same name
            // get numbered .unsaved files, as at an end.
            std::string file;
            if (const std::size_t end = text.find("\r\n");
                text.starts_with(ReportWriter::SpoolHeaderStart) && end != std::string::npos) {
                file = text.substr(std::strlen(ReportWriter::SpoolHeaderStart),
                                   end - std::strlen(ReportWriter::SpoolHeaderStart));
                text.erase(0, end + 2);
            }
            // What the report file took back before the kill is in it already.
            text.erase(0, ReportWriter::TakenFromSpool(spool, status.st_ino, text));
            const std::string heldFor = lines.Line(line).Caption + ": report lines held for " +
                                        (file.empty() ? "a report file named " + name : file);
            // The folder of the spool first, then the others, as at an end.
            std::vector<std::string> places{place};
            for (const std::string& other : UnsavedFolders(folder))
                if (other != place)
                    places.push_back(other);
            if (text.size() >= 2 && text.ends_with("\r\n"))
                text.resize(text.size() - 2);
            std::string unsaved;
            if (!text.empty()) {
                std::string failure;
                std::tie(unsaved, failure) =
                    setAside.Save(places, file.empty() ? name : file, text);
                if (!failure.empty()) {
                    said.push_back(heldFor +
                                   " when the program last ended without finishing are in " +
                                   spool + "; they cannot be added to " + failure + ".");
                    continue;
                }
            }
            // A spool that stays (its folder now read-only) is emptied, never saved twice.
            if (::unlink(spool.c_str()) != 0)
                (void)::ftruncate(fd.Get(), 0);
            ::unlink((spool + ReportWriter::SpoolTakenSuffix).c_str());
            if (!text.empty())
                said.push_back(heldFor +
                               " when the program last ended without finishing are saved in " +
                               unsaved + "; they are not in the report file.");
        }
    }
    return said;
}

std::string UnsavedLinesNews(const ProductionLine& line, const std::string& folder) {
    const std::string file = line.ReportFile.Get();
    // The .unsaved files of a report file of that name, numbered or not (one end numbers those of
    // further files of the name), and of its daily files, whether the line makes them now or not.
    const std::string name = std::filesystem::path(UnsavedFileName(".", file)).filename().string();
    const std::string stem = name.substr(0, name.size() - std::strlen(".unsaved"));
    const std::string dated = DatedFileName(stem, QDate(2000, 1, 1));
    const auto escaped = [](const std::string& text) {
        return QRegularExpression::escape(QString::fromLocal8Bit(text));
    };
    const QRegularExpression unsaved(
        QStringLiteral("^(%1|%2)(\\.[0-9]+)?\\.unsaved$")
            .arg(escaped(stem),
                 escaped(dated).replace(QStringLiteral("2000\\-01\\-01"),
                                        QStringLiteral("[0-9]{4}-[0-9]{2}-[0-9]{2}"))));
    std::vector<std::string> found;
    for (const std::string& place : UnsavedFolders(folder)) {
        // By day, then as the end numbered them.
        std::vector<std::tuple<QString, int, std::string>> here;
        std::error_code failed;
        for (std::filesystem::directory_iterator entry(place, failed), end; !failed && entry != end;
             entry.increment(failed)) {
            const QRegularExpressionMatch match =
                unsaved.match(QString::fromLocal8Bit(entry->path().filename().string()));
            std::error_code unsized;
            if (match.hasMatch() && entry->file_size(unsized) > 0 && !unsized)
                here.emplace_back(match.captured(1), match.captured(2).mid(1).toInt(),
                                  entry->path().string());
        }
        std::sort(here.begin(), here.end());
        for (const auto& [day, number, path] : here)
            found.push_back(path);
    }
    if (found.empty())
        return std::string();
    std::string places;
    for (std::size_t i = 0; i < found.size(); ++i)
        places += (i == 0 ? "" : i + 1 == found.size() ? " and " : ", ") + found[i];
    return line.Caption + ": report lines that an earlier end could not write to a report file " +
           "named " + std::filesystem::path(file).filename().string() + " are saved in " + places +
           "; they are not in the report file.";
}

std::vector<std::string> FinishReports(ProductionLines& lines, const std::string& folder,
                                       bool resumes) {
    std::vector<std::string> said;
    SetAside setAside;
    const auto saveUnsaved = [&](const std::string& file, const std::string& text) {
        return setAside.Save(UnsavedFolders(folder), file, text);
    };
    // The file it went to, empty when none took it.
    const auto keepPartial = [&](const std::string& file, const std::string& text) {
        for (const std::string& place : UnsavedFolders(folder)) {
            const std::string kept = PartialFileName(place, file);
            std::error_code ignored;
            if (std::filesystem::exists(kept, ignored))
                return std::string();
            try {
                std::filesystem::create_directories(place, ignored);
                AppendReportLine(kept, text);
                return kept;
            } catch (const std::exception&) {
            }
        }
        return std::string();
    };
    for (int n = 1; n <= LineCount; ++n) {
        ProductionLine& line = lines.Line(n);
        const std::vector<QueuedReportLine> left =
            line.Reports ? line.Reports->Finish(FinishPatience) : std::vector<QueuedReportLine>();
        bool allSaved = true;
        for (std::size_t first = 0; first < left.size();) {
            const std::string& file = left[first].File;
            std::size_t count = 0;
            std::string text;
            for (std::size_t i = first; i < left.size() && left[i].File == file; ++i, ++count)
                text += (count == 0 ? "" : "\r\n") + left[i].Text;
            const auto [unsaved, failure] = saveUnsaved(file, text);
            allSaved = allSaved && failure.empty();
            said.push_back(
                line.Caption + ": " + Lines(count) + " could not be written to " + file +
                (failure.empty()
                     ? (count == 1 ? "; it is saved in " : "; they are saved in ") + unsaved + "."
                     : ", nor to " + failure +
                           (count == 1 ? "; it is lost." : "; they are lost.")));
            first += count;
        }
        // Saved, the spools have done their work; otherwise the next start saves them.
        if (line.Reports)
            line.Reports->EndSpools(!allSaved);
        // After what its writer held: a started line's report line that had not ended yet: its
        // bytes were taken from the port and cannot come again. The ports are silent by now.
        if (const std::string& pending = line.Capture.PendingText;
            line.Started && !pending.empty()) {
            // Kept for the line's resume, which completes it with the rest of its bytes; a kept
            // line that was never taken back is not joined by another.
            if (const std::string kept =
                    resumes ? keepPartial(line.ReportFile.Get(), pending) : std::string();
                !kept.empty()) {
                said.push_back(line.Caption + ": a report line for " +
                               ReportFileAt(line, line.ReportFile, CurrentDateTime()) +
                               " had not ended (" + std::to_string(pending.size()) +
                               " bytes); it is kept in " + kept +
                               ", for the line to finish when it is resumed.");
                continue;
            }
            const std::string file = ReportFileAt(line, line.ReportFile, CurrentDateTime());
            const auto [unsaved, failure] = saveUnsaved(file, pending);
            said.push_back(line.Caption + ": a report line for " + file + " had not ended (" +
                           std::to_string(pending.size()) + " bytes); " +
                           (failure.empty() ? "it is saved in " + unsaved + "."
                                            : "it could not be saved in " + failure + "."));
        }
    }
    return said;
}
