#include "HistoryTarget.h"

#include <json/reader.h>
#include <unistd.h>

#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Export.h"
#include "ReportFile.h"
#include "SqliteHistory.h"
#include "Text.h"

namespace rvt_fuzz {
namespace {

namespace pt = boost::posix_time;

const pt::ptime kStart(boost::gregorian::date(2026, 1, 1));

// The input read front to back; a read past its end gives zeros and ends the rows.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return at_ >= size_; }
  uint8_t U8() { return at_ < size_ ? data_[at_++] : (at_++, 0); }
  uint32_t U32() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= uint32_t{U8()} << (8 * k);
    return v;
  }
  std::string Bytes(size_t n) {
    const size_t from = std::min(at_, size_);
    const size_t take = std::min(n, size_ - from);
    at_ += n;
    return std::string(reinterpret_cast<const char*>(data_ + from), take);
  }
  std::string Text() { return Bytes(U8()); }
  pt::ptime Time() { return kStart + pt::seconds(static_cast<int32_t>(U32())); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// CSV records (a quoted field may hold commas, quotes and line breaks) as their widths; -1 for
// a quote that is never closed.
std::vector<long> CsvWidths(const std::string& text) {
  std::vector<long> widths;
  long fields = 1;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') {
      quoted = !quoted;  // a doubled quote inside a field toggles twice
    } else if (!quoted && c == ',') {
      ++fields;
    } else if (!quoted && c == '\n') {
      widths.push_back(fields);
      fields = 1;
    }
  }
  if (quoted) widths.push_back(-1);
  return widths;
}

std::string OneWidth(const std::string& what, const std::string& csv) {
  const std::vector<long> widths = CsvWidths(csv);
  for (const long w : widths)
    if (w != widths.front() || w < 0) return what + ": a row of another width";
  return "";
}

bool ParsesAsJson(const std::string& text) {
  Json::CharReaderBuilder b;
  Json::Value v;
  std::string errors;
  std::istringstream in(text);
  return Json::parseFromStream(b, in, &v, &errors);
}

// What a terminal would act on: C0 controls but tab and newline, DEL, bytes not UTF-8.
bool TerminalSafe(const std::string& text) {
  for (size_t k = 0; k < text.size();) {
    const auto b = static_cast<uint8_t>(text[k]);
    const size_t n = zel::Utf8Length(text, k);
    if (n == 0 || (b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) return false;
    k += n;
  }
  return true;
}

std::string CheckPage(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"session\">";
  const size_t begin = page.find(open);
  if (begin == std::string::npos) return "the page has no session data";
  const size_t from = begin + open.size();
  // Nothing in the data can end the element or start a comment that hides its end.
  const size_t end = page.find('<', from);
  if (end == std::string::npos || page.compare(end, 9, "</script>") != 0)
    return "the session data does not end at its </script>";
  const std::string json = page.substr(from, end - from);
  if (json.find_first_of(">&") != std::string::npos) return "markup characters in the data";
  if (json.find("\xE2\x80\xA8") != std::string::npos ||
      json.find("\xE2\x80\xA9") != std::string::npos)
    return "a raw line or paragraph separator in the data";
  for (size_t k = 0; k < json.size(); k += zel::Utf8Length(json, k))
    if (zel::Utf8Length(json, k) == 0) return "the data is not UTF-8";
  if (!ParsesAsJson(json)) return "the session data does not parse";
  return "";
}

// A scratch database and page of this process, removed before and after each input.
struct Scratch {
  std::string db;
  std::string page;
  Scratch() {
    // In memory where there is /dev/shm: runs there are about twice as fast as on a disk.
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr && *tmp          ? tmp
                            : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                            : "/tmp";
    const std::string base = dir + "/rvt-fuzz-history-" + std::to_string(getpid());
    db = base + ".db";
    page = base + ".html";
    Clear();
  }
  ~Scratch() { Clear(); }
  void Clear() const {
    for (const std::string& f : {db, db + "-wal", db + "-shm", db + "-journal", page})
      std::remove(f.c_str());
  }
};

}  // namespace

std::string RunHistory(const uint8_t* data, size_t size) {
  Input in(data, size);
  zel::HistoryRange range;
  const uint8_t flags = in.U8();
  if (flags & 1) range.dataId = in.U8();
  if (flags & 2) range.from = pt::to_iso_extended_string(in.Time());
  if (flags & 4) range.to = pt::to_iso_extended_string(in.Time());

  static const Scratch scratch;
  scratch.Clear();
  std::vector<std::string> texts;
  {
    zel::SqliteHistory history(scratch.db);
    while (!in.AtEnd()) {
      const uint8_t kind = in.U8();
      if ((kind & 1) == 0) {
        const unsigned id = in.U8();
        const pt::ptime when = in.Time();
        const size_t length = in.U8() | size_t{in.U8()} << 8;
        const std::string image = in.Bytes(length);
        history.Append(id, when, std::vector<unsigned char>(image.begin(), image.end()));
        continue;
      }
      zel::AlarmRecord a;
      a.device = in.U8();
      a.time = (kind & 2) ? in.Text() : pt::to_iso_extended_string(in.Time());
      a.seq = in.U8();
      a.level = static_cast<int8_t>(in.U8());
      a.raised = (kind & 4) != 0;
      a.ruleId = in.Text();
      a.code = in.Text();
      a.name = in.Text();
      a.text = in.Text();
      texts.push_back(a.text);
      history.AppendAlarm(a);
    }
    history.Commit();
  }

  for (const std::string& text : texts)
    if (!TerminalSafe(zel::ForTerminal(text))) return "a text for the terminal keeps a control";

  std::ostringstream csv, jsonl, alarms;
  zel::Export(scratch.db, "csv", range, csv);
  zel::Export(scratch.db, "jsonl", range, jsonl);
  zel::Export(scratch.db, "alarms", range, alarms);
  std::string broken = OneWidth("csv", csv.str());
  if (broken.empty()) broken = OneWidth("alarms", alarms.str());
  std::istringstream lines(jsonl.str());
  for (std::string line; broken.empty() && std::getline(lines, line);)
    if (!ParsesAsJson(line)) broken = "a jsonl line does not parse";
  if (!broken.empty()) return broken;

  zel::WriteReport(scratch.db, range, scratch.page);
  std::ifstream page(scratch.page, std::ios::binary);
  std::ostringstream text;
  text << page.rdbuf();
  return CheckPage(text.str());
}

std::vector<uint8_t> HistoryInput(const HistoryRows& rows) {
  std::vector<uint8_t> out{0};
  auto u8 = [&out](unsigned v) { out.push_back(static_cast<uint8_t>(v)); };
  auto u32 = [&u8](uint32_t v) {
    for (int k = 0; k < 4; ++k) u8(v >> (8 * k));
  };
  auto text = [&out, &u8](const std::string& s) {
    const size_t n = std::min<size_t>(s.size(), 255);
    u8(static_cast<unsigned>(n));
    out.insert(out.end(), s.begin(), s.begin() + static_cast<long>(n));
  };
  auto seconds = [](const std::string& time, uint32_t& at) {
    try {
      at = static_cast<uint32_t>((pt::from_iso_extended_string(time) - kStart).total_seconds());
      return true;
    } catch (const std::exception&) {
      return false;
    }
  };
  auto alarm = [&](const zel::AlarmRecord& a) {
    uint32_t at = 0;
    const bool timed = seconds(a.time, at);
    u8(1u | (timed ? 0u : 2u) | (a.raised ? 4u : 0u));
    u8(a.device);
    if (timed) {
      u32(at);
    } else {
      text(a.time);
    }
    u8(a.seq);
    u8(static_cast<unsigned>(a.level));
    for (const std::string* s : {&a.ruleId, &a.code, &a.name, &a.text}) text(*s);
  };
  auto image = [&](const HistoryRows::Image& i) {
    uint32_t at = 0;
    seconds(i.time, at);
    u8(0);
    u8(i.dataId);
    u32(at);
    const size_t n = std::min<size_t>(i.bytes.size(), 0xFFFF);
    u8(static_cast<unsigned>(n & 0xFF));
    u8(static_cast<unsigned>(n >> 8));
    out.insert(out.end(), i.bytes.begin(), i.bytes.begin() + static_cast<long>(n));
  };
  // The rows in the order they were saved: by time, an alarm event after the images of its time.
  size_t k = 0;
  for (const auto& i : rows.images) {
    for (; k < rows.alarms.size() && rows.alarms[k].time < i.time; ++k) alarm(rows.alarms[k]);
    image(i);
  }
  for (; k < rows.alarms.size(); ++k) alarm(rows.alarms[k]);
  return out;
}

}  // namespace rvt_fuzz
