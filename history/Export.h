#pragma once

#include <ostream>
#include <string>

#include "HistoryReader.h"

namespace zel {

// Prints a history's range: "csv" or "jsonl", one row or object per saved image, decoded;
// "alarms", the alarm events as CSV. Throws std::runtime_error for a database that does not
// open; an image that does not decode is printed with its error (and, in JSON, its hex).
//
// CSV: time,device,data_type, then the decoder's field names of every data type in the range
// (repeats up to the most any image has), then error; a field an image lacks is empty.
// "device" is the data id the image was saved under.
void Export(const std::string& database, const std::string& format, const HistoryRange& range,
            std::ostream& out);

}  // namespace zel
