#pragma once

#include <string>

#include "HistoryReader.h"

namespace zel {

struct ReportFigures {
  size_t images = 0;     // saved images drawn
  size_t undecoded = 0;  // saved images that did not decode, counted in the head
  size_t alarms = 0;     // alarm events read
  size_t bytes = 0;      // size of the page
};

// Writes the session report of a history's range to `path`: the images of the range and the
// alarm events up to its end (those before its start give the alarms active at the start).
// Throws std::runtime_error for a database that does not open or a file that cannot be written.
ReportFigures WriteReport(const std::string& database, const HistoryRange& range,
                          const std::string& path);

}  // namespace zel
