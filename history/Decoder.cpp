#include "Decoder.h"

#include <json/writer.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zel {
namespace {

using T = FieldType;

// Packed, little-endian; a stored count may exceed its array, the array keeps its size.
const std::vector<Layout>& Table() {
  static const std::vector<Layout> table = {
      // AC unit, 32 bytes, then 30 bytes a channel:
      //   data_id ia      ib      ic      n  m  p  sw.... alerts time_stamp
      //   0       4       8       12      16 17 18 19     22     25        32
      {5106,
       "ac",
       {32,
        {{"data_id", 0, T::U32},
         {"ia", 4, T::F32},
         {"ib", 8, T::F32},
         {"ic", 12, T::F32},
         {"channel_count", 16, T::U8},
         {"airlock_count", 17, T::U8},
         {"p40_43_count", 18, T::U8},
         {"p40_43", 19, T::U8, 3},
         {"ia_alert", 22, T::U8},
         {"ib_alert", 23, T::U8},
         {"ic_alert", 24, T::U8},
         {"time_stamp", 25, T::Stamp}}},
       "channel_count",
       "channel",
       //   a       b       c       f       p  alerts.... p  p40_44..........
       //   0       4       8       12      16 17         21 22             30
       {30,
        {{"a", 0, T::F32},
         {"b", 4, T::F32},
         {"c", 8, T::F32},
         {"f", 12, T::F32},
         {"p40_41_count", 16, T::U8},
         {"a_alert", 17, T::U8},
         {"b_alert", 18, T::U8},
         {"c_alert", 19, T::U8},
         {"f_alert", 20, T::U8},
         {"p40_44_count", 21, T::U8},
         {"p40_44", 22, T::U8, 8}}}},
      // Rectifier unit, 65 bytes, then 32 bytes a module:
      //   data_id ac_param(5) dc_param(2) n  dc_user_param(5) group_analog n  time_stamp
      //   0       4           24          32 33               53           57 58        65
      {5107,
       "rc",
       {65,
        {{"data_id", 0, T::U32},
         {"ac_param", 4, T::F32, 5},
         {"dc_param", 24, T::F32, 2},
         {"dc_user_param_count", 32, T::U8},
         {"dc_user_param", 33, T::F32, 5},
         {"group_analog", 53, T::F32},
         {"module_count", 57, T::U8},
         {"time_stamp", 58, T::Stamp}}},
       "module_count",
       "module",
       //   analog  n  user_analog(4) state n  us fault n  user_alarm
       //   0       4  5              21    24 25 26    27 28        32
       {32,
        {{"analog", 0, T::F32},
         {"user_analog_count", 4, T::U8},
         {"user_analog", 5, T::F32, 4},
         {"state", 21, T::U8, 3},
         {"user_state_count", 24, T::U8},
         {"user_state", 25, T::U8},
         {"fault", 26, T::U8},
         {"user_alarm_count", 27, T::U8},
         {"user_alarm", 28, T::U8, 4}}}},
      // DC unit, 166 bytes:
      //   data_id v i  m  m_value(4) n  n_value(9) p  user_p(3) vs a  alert_m(64) q   alert_p(13)
      //   0       4 8  12 13         29 30         66 67        79 80 81          145 146
      //   time_stamp 159, end 166
      {5108,
       "dc",
       {166,
        {{"data_id", 0, T::U32},
         {"v", 4, T::F32},
         {"i", 8, T::F32},
         {"dc_m", 12, T::U8},
         {"m_value", 13, T::F32, 4},
         {"dc_n", 29, T::U8},
         {"n_value", 30, T::F32, 9},
         {"p_count", 66, T::U8},
         {"user_p", 67, T::F32, 3},
         {"v_state", 79, T::U8},
         {"alert_m_count", 80, T::U8},
         {"alert_m", 81, T::U8, 64},
         {"alert_p_count", 145, T::U8},
         {"alert_p", 146, T::U8, 13},
         {"time_stamp", 159, T::Stamp}}},
       nullptr,
       nullptr,
       {0, {}}},
  };
  return table;
}

const Field* FieldOf(const Part& part, const char* name) {
  for (const Field& f : part.fields)
    if (std::strcmp(f.name, name) == 0) return &f;
  return nullptr;
}

// The number of repeats the head says, if the head fits.
std::optional<size_t> RepeatsOf(const Layout& layout, const std::vector<uint8_t>& image) {
  if (image.size() < layout.head.size) return std::nullopt;
  if (layout.countField == nullptr) return 0;
  return image[FieldOf(layout.head, layout.countField)->offset];
}

uint32_t U32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

FieldValue ValueAt(FieldType type, const uint8_t* p) {
  switch (type) {
    case T::U8:
      return uint32_t{p[0]};
    case T::U32:
      return U32At(p);
    case T::F32: {
      const uint32_t bits = U32At(p);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case T::Stamp: {
      char s[40];
      std::snprintf(s, sizeof s, "%04u-%02u-%02uT%02u:%02u:%02u", p[0] | p[1] << 8, p[2], p[3],
                    p[4], p[5], p[6]);
      return std::string(s);
    }
  }
  return uint32_t{0};
}

std::string Name(const char* prefix, size_t k, const Field& f, size_t index) {
  std::string name =
      prefix != nullptr ? std::string(prefix) + "_" + std::to_string(k + 1) + "_" : std::string();
  name += f.name;
  if (f.count > 1) name += "_" + std::to_string(index + 1);
  return name;
}

// Calls fn(name, field, index, offset) for every value of the part, from `base`.
template <typename Fn>
void EachValue(const Part& part, const char* prefix, size_t k, size_t base, Fn fn) {
  for (const Field& f : part.fields)
    for (size_t index = 0; index < f.count; ++index)
      fn(Name(prefix, k, f, index), f, base + f.offset + index * SizeOf(f.type));
}

}  // namespace

size_t SizeOf(FieldType type) {
  switch (type) {
    case T::U8:
      return 1;
    case T::U32:
    case T::F32:
      return 4;
    case T::Stamp:
      return 7;
  }
  return 0;
}

const std::vector<Layout>& Layouts() {
  return Table();
}

const Layout* LayoutOf(int dataType) {
  for (const Layout& l : Table())
    if (l.dataType == dataType) return &l;
  return nullptr;
}

int DataTypeOf(const std::vector<uint8_t>& image) {
  for (const Layout& l : Table()) {
    const auto repeats = RepeatsOf(l, image);
    if (repeats && image.size() == l.head.size + *repeats * l.repeat.size) return l.dataType;
  }
  return 0;
}

const FieldValue* Decoded::Find(const std::string& name) const {
  for (const auto& [n, v] : fields)
    if (n == name) return &v;
  return nullptr;
}

std::optional<Decoded> Decode(int dataType, const std::vector<uint8_t>& image, std::string& error) {
  const Layout* layout = LayoutOf(dataType);
  if (layout == nullptr) {
    error = "no layout for data type " + std::to_string(dataType);
    return std::nullopt;
  }
  const auto repeats = RepeatsOf(*layout, image);
  if (!repeats) {
    error = "image of " + std::to_string(image.size()) + " bytes, a " + std::to_string(dataType) +
            " image needs at least " + std::to_string(layout->head.size);
    return std::nullopt;
  }
  const size_t need = layout->head.size + *repeats * layout->repeat.size;
  if (image.size() != need) {
    error = "image of " + std::to_string(image.size()) + " bytes, a " + std::to_string(dataType) +
            " image" +
            (layout->prefix != nullptr
                 ? " with " + std::to_string(*repeats) + " " + layout->prefix + "s"
                 : std::string()) +
            " has " + std::to_string(need);
    return std::nullopt;
  }
  Decoded out;
  out.layout = layout;
  out.repeats = *repeats;
  auto add = [&](const std::string& name, const Field& f, size_t at) {
    out.fields.emplace_back(name, ValueAt(f.type, image.data() + at));
  };
  EachValue(layout->head, nullptr, 0, 0, add);
  for (size_t k = 0; k < *repeats; ++k)
    EachValue(layout->repeat, layout->prefix, k, layout->head.size + k * layout->repeat.size, add);
  return out;
}

std::vector<std::string> Columns(const Layout& layout, size_t repeats) {
  std::vector<std::string> out;
  auto add = [&](const std::string& name, const Field&, size_t) { out.push_back(name); };
  EachValue(layout.head, nullptr, 0, 0, add);
  for (size_t k = 0; k < repeats; ++k) EachValue(layout.repeat, layout.prefix, k, 0, add);
  return out;
}

std::string Text(const FieldValue& value) {
  if (const uint32_t* u = std::get_if<uint32_t>(&value)) return std::to_string(*u);
  if (const float* f = std::get_if<float>(&value)) {
    // The fewest digits that read back as the same float: 11.2, not 11.1999998.
    char s[32];
    for (int digits = 6; digits <= 9; ++digits) {
      std::snprintf(s, sizeof s, "%.*g", digits, static_cast<double>(*f));
      if (std::strtof(s, nullptr) == *f) break;
    }
    return s;
  }
  return std::get<std::string>(value);
}

Json::Value FieldsJson(const Decoded& decoded) {
  Json::Value out(Json::objectValue);
  for (const auto& [name, value] : decoded.fields) {
    if (const uint32_t* u = std::get_if<uint32_t>(&value)) {
      out[name] = Json::UInt(*u);
    } else if (const float* f = std::get_if<float>(&value)) {
      out[name] = std::isfinite(*f) ? std::strtod(Text(value).c_str(), nullptr) : Json::Value();
    } else {
      out[name] = std::get<std::string>(value);
    }
  }
  return out;
}

std::string JsonLine(const Json::Value& v) {
  Json::StreamWriterBuilder b;
  b["indentation"] = "";
  b["commentStyle"] = "None";
  b["emitUTF8"] = true;
  b["precision"] = 9;
  b["precisionType"] = "significant";
  return Json::writeString(b, v);
}

ImageBuilder::ImageBuilder(const Layout& layout, size_t repeats)
    : layout_(layout), image_(layout.head.size + repeats * layout.repeat.size, 0) {}

void ImageBuilder::Put(const Part& part, size_t base, const char* name, const uint8_t* bytes,
                       size_t n, size_t index) {
  const Field* f = FieldOf(part, name);
  if (f == nullptr) throw std::logic_error(std::string("no field ") + name);
  const size_t size = SizeOf(f->type);
  if (index * size + n > f->count * size)
    throw std::logic_error(std::string("too many bytes for ") + name);
  std::memcpy(image_.data() + base + f->offset + index * size, bytes, n);
}

void ImageBuilder::Bytes(const char* name, const uint8_t* bytes, size_t n, size_t index) {
  Put(layout_.head, 0, name, bytes, n, index);
}

void ImageBuilder::U32(const char* name, uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  Bytes(name, b, 4);
}

void ImageBuilder::BytesIn(size_t k, const char* name, const uint8_t* bytes, size_t n,
                           size_t index) {
  if (layout_.head.size + (k + 1) * layout_.repeat.size > image_.size())
    throw std::logic_error("no such repeat");
  Put(layout_.repeat, layout_.head.size + k * layout_.repeat.size, name, bytes, n, index);
}

}  // namespace zel
