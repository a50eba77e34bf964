#pragma once

// The files of the report page, built into the program (zelhost/report/, third_party/uplot/),
// each null-terminated.
namespace zel::report {

extern const unsigned char kPageHtml[];  // report.html: the template
extern const unsigned char kReportCss[];
extern const unsigned char kReportJs[];
extern const unsigned char kUplotCss[];
extern const unsigned char kUplotJs[];

}  // namespace zel::report
