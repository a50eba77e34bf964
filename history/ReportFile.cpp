#include "ReportFile.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Decoder.h"
#include "Report.h"

namespace zel {
namespace {

boost::posix_time::ptime TimeOf(const std::string& text) {
  if (text.empty()) return boost::posix_time::not_a_date_time;
  try {
    return boost::posix_time::from_iso_extended_string(text);
  } catch (const std::exception&) {
    return boost::posix_time::not_a_date_time;
  }
}

// The fields the page draws of an image of one layout and repeat count: their names as the
// decoder gives them, where they stand in the image by the decoder's table. Decoding every field
// of a week of images would take most of the report's time.
struct Slot {
  std::string name;
  size_t offset;
  FieldType type;
};

std::vector<Slot> DrawnSlots(const Layout& layout, size_t repeats) {
  const std::vector<std::string> names = Columns(layout, repeats);
  std::vector<Slot> out;
  size_t n = 0;
  auto walk = [&](const Part& part, size_t base) {
    for (const Field& f : part.fields)
      for (size_t index = 0; index < f.count; ++index, ++n)
        if (n < names.size() && SessionReport::Draws(layout.dataType, names[n]))
          out.push_back({names[n], base + f.offset + index * SizeOf(f.type), f.type});
  };
  walk(layout.head, 0);
  for (size_t k = 0; k < repeats; ++k)
    walk(layout.repeat, layout.head.size + k * layout.repeat.size);
  return out;
}

double Read(const std::vector<uint8_t>& image, const Slot& slot) {
  const uint8_t* p = image.data() + slot.offset;
  const uint32_t word = p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  switch (slot.type) {
    case FieldType::U8:
      return p[0];
    case FieldType::U32:
      return word;
    case FieldType::F32: {
      float f;
      std::memcpy(&f, &word, sizeof f);
      return f;
    }
    case FieldType::Stamp:
      break;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

ReportFigures WriteReport(const std::string& database, const HistoryRange& range,
                          const std::string& path) {
  HistoryReader reader(database);
  SessionReport report;
  report.SetRange(TimeOf(range.from), TimeOf(range.to));
  ReportFigures figures;
  if (const auto held = reader.Held()) report.SetHeld(held->first, held->second);
  // An image is drawn when it fits a layout and its time reads.
  auto drawn = [](const SavedImage& saved) {
    return LayoutOf(DataTypeOf(saved.image)) != nullptr && !TimeOf(saved.time).is_special();
  };
  report.SetLastRound([&](unsigned dataId) -> std::optional<boost::posix_time::ptime> {
    HistoryRange unit = range;
    unit.dataId = dataId;
    const auto last = reader.LastImage(unit, drawn);
    if (!last) return std::nullopt;
    return TimeOf(last->time);
  });
  std::map<std::pair<int, size_t>, std::vector<Slot>> plans;
  reader.Images(range, [&](const SavedImage& saved) {
    const int type = DataTypeOf(saved.image);
    const Layout* layout = LayoutOf(type);
    const auto when = TimeOf(saved.time);
    if (layout == nullptr || when.is_special()) {
      report.AddUndecoded();
      ++figures.undecoded;
      return;
    }
    const size_t repeats =
        layout->repeat.size ? (saved.image.size() - layout->head.size) / layout->repeat.size : 0;
    auto plan = plans.find({type, repeats});
    if (plan == plans.end())
      plan = plans.emplace(std::make_pair(type, repeats), DrawnSlots(*layout, repeats)).first;
    report.BeginImage(saved.dataId, static_cast<unsigned>(type), when, plan->second.size());
    for (const Slot& slot : plan->second) report.Value(slot.name, Read(saved.image, slot));
    ++figures.images;
  });
  HistoryRange alarms = range;
  alarms.from.clear();
  reader.Alarms(alarms, [&](const AlarmRecord& a) {
    report.AddAlarm(a);
    ++figures.alarms;
  });

  const std::string page = report.Page();
  std::ofstream out(path, std::ios::binary);
  if (out) out << page;
  if (!out.flush())
    throw std::runtime_error("cannot write the report " + path + ": " + std::strerror(errno));
  figures.bytes = page.size();
  return figures;
}

}  // namespace zel
