#pragma once
// The two outputs of `hxflash inspect`, printed to standard output from one
// report: lines for a person, or one JSON document for a program.
#include "package_report/package_report.h"

namespace hxflash {

void printReportText(const PackageReport& report);  // report_text.cpp
void printReportJson(const PackageReport& report);  // report_json.cpp

}  // namespace hxflash
