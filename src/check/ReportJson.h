#pragma once

// The check's report as one JSON document, as docs/report.schema.json describes it.

#include <string>

#include "check/CheckReport.h"

// The document, indented by two spaces, its strings in UTF-8 as they are (not escaped),
// ending with a line end.
std::string ReportJson(const CheckReport& report);
