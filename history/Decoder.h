#pragma once

// The record images the units publish and save, decoded by layout as a host's database decodes
// them: one table of fields per data type (5106 AC with its channels, 5107 rectifier with its
// modules, 5108 DC). The simulator builds its truth images from the same table.
//
// Interface kept for the session report and the export:
//   LayoutOf(type), DataTypeOf(image), Decode(type, image, error) -> Decoded{layout, fields},
//   Columns(layout, repeats), Text(value); field names count from 1, as the records do:
//   "ia", "channel_1_a", "module_2_fault", "m_value_3", "alert_m_64", "time_stamp".
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace zel {

enum class FieldType {
  U8,     // unsigned byte
  U32,    // unsigned 32-bit, low byte first
  F32,    // IEEE-754 single, low byte first
  Stamp,  // 7 bytes: year (low byte first), month, day, hour, minute, second
};

size_t SizeOf(FieldType type);

// `count` values of `type` from `offset`; more than one are named name_1 .. name_count.
struct Field {
  const char* name;
  uint16_t offset;
  FieldType type;
  uint8_t count = 1;
};

// A record: its size and fields, at the offsets of the packed layout.
struct Part {
  uint16_t size;
  std::vector<Field> fields;
};

// A data type's image: the head record, then `repeat` records as many as the head's count field
// says (none for a type without repeats).
struct Layout {
  int dataType;
  const char* unit;  // "ac", "rc", "dc"
  Part head;
  const char* countField;  // head field with the number of repeats, or nullptr
  const char* prefix;      // "channel", "module": repeat K's fields are prefix_K_name
  Part repeat;
};

const std::vector<Layout>& Layouts();
// The layout of a data type, or nullptr.
const Layout* LayoutOf(int dataType);
// The data type whose layout the image fits (size and repeat count), or 0. The three layouts'
// sizes never coincide, so an image saved without its type still decodes.
int DataTypeOf(const std::vector<uint8_t>& image);

using FieldValue = std::variant<uint32_t, float, std::string>;

struct Decoded {
  const Layout* layout = nullptr;
  size_t repeats = 0;
  std::vector<std::pair<std::string, FieldValue>> fields;  // in layout order

  const FieldValue* Find(const std::string& name) const;
};

// The image decoded, or nullopt with `error` saying why: an unknown data type, or an image
// shorter or longer than its layout and repeat count need. Nothing is read past the image.
std::optional<Decoded> Decode(int dataType, const std::vector<uint8_t>& image, std::string& error);

// The field names of an image of this layout with `repeats` repeats, in layout order.
std::vector<std::string> Columns(const Layout& layout, size_t repeats);

// A value as text: integers in decimal, floats with the fewest digits that read back the same
// (nan, inf as such), a stamp as 2026-01-01T00:00:02.
std::string Text(const FieldValue& value);
// The fields as one JSON object: numbers as Text() writes them (null for nan and inf), the
// stamp as text.
Json::Value FieldsJson(const Decoded& decoded);
// One line of compact JSON, as the events and the export write it: UTF-8 as it stands, floats
// with 9 significant digits.
std::string JsonLine(const Json::Value& v);

// Writes an image by layout: zero-filled, sized for `repeats`; a field by name, a value of an
// array field by index (from 0). A name the layout lacks or bytes that do not fit the field
// throw std::logic_error.
class ImageBuilder {
 public:
  ImageBuilder(const Layout& layout, size_t repeats);

  void Bytes(const char* name, const uint8_t* bytes, size_t n, size_t index = 0);
  void U8(const char* name, uint8_t value, size_t index = 0) { Bytes(name, &value, 1, index); }
  void U32(const char* name, uint32_t value);
  // The same, in repeat `k` (from 0).
  void BytesIn(size_t k, const char* name, const uint8_t* bytes, size_t n, size_t index = 0);
  void U8In(size_t k, const char* name, uint8_t value, size_t index = 0) {
    BytesIn(k, name, &value, 1, index);
  }

  const std::vector<uint8_t>& image() const { return image_; }

 private:
  void Put(const Part& part, size_t base, const char* name, const uint8_t* bytes, size_t n,
           size_t index);

  const Layout& layout_;
  std::vector<uint8_t> image_;
};

}  // namespace zel
