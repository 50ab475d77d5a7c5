#pragma once
// Where the report files go: beside the program (its path without extension, then "_Debug.dmp" and
// "_Debug.txt"), or, where that folder cannot be written, in the temporary folder with the base
// "MiniDump".
#include <string>

namespace mistvale {

struct ReportFiles {
    std::string dump; // empty when it could not be written
    std::string text;
};

// Writes both files; a file that cannot be written in either place is left out.
ReportFiles WriteReportFiles(const std::string& programPath, const std::string& dump,
                             const std::string& text);

} // namespace mistvale
