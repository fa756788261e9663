// Saving the report list as a text file: one line per row, the cells separated by
// tabs, as many cells as the view reported columns.
#pragma once

#include <string>
#include <string_view>

#include "netpeek/report_model.h"

namespace torvane::netpeek {

enum class SaveStatus { kSaved, kCannotOpen, kWriteFailed };

struct SaveResult {
  SaveStatus status = SaveStatus::kCannotOpen;
  int error = 0;  // errno of the failure
};

// "<host> - <title>": the proposed name (title cut to 63 characters, the whole
// to 259); batch mode appends ".txt" and uses it in the current directory.
std::string proposed_file_name(std::string_view host, std::string_view title);

// A cell as saved: tab, carriage return, line feed and every other control byte
// become a space, so that each row stays one line with count - 1 tabs.
std::string saved_cell_text(std::string_view cell);

// Writes the model to path, replacing the file.
SaveResult save_view_to_path(const ReportModel& model, const std::string& path);

}  // namespace torvane::netpeek
