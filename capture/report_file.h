#pragma once

#include <string>

// Appends text and CR LF to the named file, creating it when missing; opened and closed each time.
// A failure raises EInOutError with the run-time library's number and text for the error; a write
// that fails part-way takes its own partial line back out, so the next line does not run on from
// it.
void AppendReportLine(const std::string& fileName, const std::string& text);

// What is plain about a report file that could not be written, from a look at its path: "the
// folder /srv/reports is not there", "it is a folder", "its disk is read-only" ...; empty when
// nothing is (a full disk says enough by its error).
std::string ReportFileTrouble(const std::string& fileName);
