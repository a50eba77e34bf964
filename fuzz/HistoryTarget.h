#pragma once

// The fuzz target over what reads a history: the export and the session report on rows of any
// kind. One input is a range, then rows, all numbers little-endian; a cut input ends the rows:
//
//   flags              bit 0: a data id (u8) follows, bit 1: from (i32), bit 2: to (i32)
//   image row          kind (even) | data id u8 | time i32 | length u16 | bytes
//   alarm row          kind (odd; bit 1: the time is a text, bit 2: raised) | device u8 |
//                      time i32 or text | seq u8 | level i8 | rule id, code, name, text
//
// Times are seconds from 2026-01-01T00:00:00, in any order; a text is u8 length | bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "History.h"

namespace rvt_fuzz {

// Writes the rows into a scratch database, then exports it (csv, jsonl, alarms) and writes its
// report. Returns the first broken rule, "" if none: every CSV row of one width, every JSON line
// parses, the page's data parses, is UTF-8 and holds no <, >, &, U+2028 or U+2029 (nothing in it
// can end its element), and a text made for the terminal keeps no control byte.
std::string RunHistory(const uint8_t* data, size_t size);

// A history's rows as one input of the target (the seeds: sessions of the tests).
struct HistoryRows {
  struct Image {
    unsigned dataId;
    std::string time;  // as the history writes it
    std::vector<uint8_t> bytes;
  };
  std::vector<Image> images;
  std::vector<zel::AlarmRecord> alarms;
};
std::vector<uint8_t> HistoryInput(const HistoryRows& rows);

}  // namespace rvt_fuzz
