#pragma once
// The eight operations that move one settings group between the settings file and the production
// lines that hold it. A failed write raises EIniFileException at the failing key.

#include "capture/production_line.h"

#include <string>

void LoadLineLabels(ProductionLines& lines);
void SaveLineLabels(const ProductionLines& lines);
void LoadComPortSettings(ProductionLines& lines);
void SaveComPortSettings(const ProductionLines& lines);
// Both end by recomputing the lines' delimiter characters from their codes.
void LoadStampingSettings(ProductionLines& lines);
void SaveStampingSettings(ProductionLines& lines);
// Line 1..8; other numbers do nothing.
void LoadReportDirectory(int line, std::string& initialDir);
void SaveReportDirectory(int line, const std::string& fileName);
