#include "Export.h"

#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "Bench.h"
#include "Decoder.h"

namespace zel {
namespace {

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string Csv(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

void CsvRow(std::ostream& out, const std::vector<std::string>& fields) {
  for (size_t k = 0; k < fields.size(); ++k) out << (k != 0 ? "," : "") << Csv(fields[k]);
  out << '\n';
}

struct Row {
  int dataType = 0;
  std::optional<Decoded> decoded;
  std::string error;
};

Row DecodeRow(const SavedImage& saved) {
  Row row;
  row.dataType = DataTypeOf(saved.image);
  if (row.dataType == 0) {
    row.error = "no layout fits an image of " + std::to_string(saved.image.size()) + " bytes";
    return row;
  }
  row.decoded = Decode(row.dataType, saved.image, row.error);
  return row;
}

void ImagesCsv(HistoryReader& reader, const HistoryRange& range, std::ostream& out) {
  // The columns first: every data type of the range, with the most repeats it has.
  std::map<int, size_t> repeats;
  reader.Images(range, [&](const SavedImage& saved) {
    const Row row = DecodeRow(saved);
    if (!row.decoded) return;
    size_t& most = repeats[row.dataType];
    most = std::max(most, row.decoded->repeats);
  });
  std::vector<std::string> header = {"time", "device", "data_type"};
  std::map<std::string, size_t> column;
  for (const auto& [type, most] : repeats)
    for (const std::string& name : Columns(*LayoutOf(type), most))
      if (column.emplace(name, header.size()).second) header.push_back(name);
  header.push_back("error");
  CsvRow(out, header);

  reader.Images(range, [&](const SavedImage& saved) {
    const Row row = DecodeRow(saved);
    std::vector<std::string> fields(header.size());
    fields[0] = saved.time;
    fields[1] = std::to_string(saved.dataId);
    if (row.dataType != 0) fields[2] = std::to_string(row.dataType);
    if (row.decoded)
      for (const auto& [name, value] : row.decoded->fields) fields[column.at(name)] = Text(value);
    fields.back() = row.error;
    CsvRow(out, fields);
  });
}

void ImagesJsonl(HistoryReader& reader, const HistoryRange& range, std::ostream& out) {
  reader.Images(range, [&](const SavedImage& saved) {
    const Row row = DecodeRow(saved);
    Json::Value v(Json::objectValue);
    v["time"] = saved.time;
    v["device"] = saved.dataId;
    if (row.dataType != 0) v["data_type"] = row.dataType;
    if (row.decoded) {
      v["fields"] = FieldsJson(*row.decoded);
    } else {
      v["error"] = row.error;
      v["image"] = ToHex(saved.image);
    }
    out << JsonLine(v) << '\n';
  });
}

void AlarmsCsv(HistoryReader& reader, const HistoryRange& range, std::ostream& out) {
  CsvRow(out, {"time", "device", "rule_id", "seq", "code", "name", "text", "level", "state"});
  reader.Alarms(range, [&](const AlarmRecord& a) {
    CsvRow(out, {a.time, std::to_string(a.device), a.ruleId, std::to_string(a.seq), a.code, a.name,
                 a.text, std::to_string(a.level), a.raised ? "raised" : "cleared"});
  });
}

}  // namespace

void Export(const std::string& database, const std::string& format, const HistoryRange& range,
            std::ostream& out) {
  HistoryReader reader(database);
  if (format == "csv") {
    ImagesCsv(reader, range, out);
  } else if (format == "jsonl") {
    ImagesJsonl(reader, range, out);
  } else if (format == "alarms") {
    AlarmsCsv(reader, range, out);
  } else {
    throw std::invalid_argument("no export format \"" + format + "\" (csv, jsonl or alarms)");
  }
  out.flush();
}

}  // namespace zel
