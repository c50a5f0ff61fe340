#include "capture/production_line.h"

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

ProductionLines::ProductionLines() {
    for (int line = 1; line <= LineCount; ++line)
        Line(line).Caption = "Line " + std::to_string(line);
}

void ProductionLines::SetCaption(int line, const std::string& caption) {
    Line(line).Caption = caption;
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
