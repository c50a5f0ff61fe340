#include "capture/production_line.h"

#include "capture/line_watch.h"
#include "capture/report_file.h"

#include <filesystem>

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

std::string Saved(const ProductionLine& line, std::size_t count, const std::string& file,
                  const std::string& unsaved) {
    return line.Caption + ": " + std::to_string(count) + " report lines could not be written to " +
           file + "; they are saved in " + unsaved + ".";
}

} // namespace

std::string UnsavedFileName(const std::string& folder, const std::string& reportFile) {
    const std::string name = std::filesystem::path(reportFile).filename().string();
    return (std::filesystem::path(folder) / ((name.empty() ? "report" : name) + ".unsaved"))
        .string();
}

std::vector<std::string> FinishReports(ProductionLines& lines, const std::string& folder) {
    std::vector<std::string> said;
    for (int n = 1; n <= LineCount; ++n) {
        ProductionLine& line = lines.Line(n);
        if (!line.Reports)
            continue;
        const std::vector<QueuedReportLine> left = line.Reports->Finish(FinishPatience);
        for (std::size_t first = 0; first < left.size();) {
            const std::string& file = left[first].File;
            const std::string unsaved = UnsavedFileName(folder, file);
            std::size_t count = 0;
            std::string failure;
            for (std::size_t i = first; i < left.size() && left[i].File == file; ++i, ++count) {
                if (!failure.empty())
                    continue;
                try {
                    AppendReportLine(unsaved, left[i].Text);
                } catch (const std::exception& error) {
                    failure = error.what();
                }
            }
            said.push_back(failure.empty()
                               ? Saved(line, count, file, unsaved)
                               : line.Caption + ": " + std::to_string(count) +
                                     " report lines could not be written to " + file + ", nor to " +
                                     unsaved + " (" + failure + "); they are lost.");
            first += count;
        }
    }
    return said;
}
