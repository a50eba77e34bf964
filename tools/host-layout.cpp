// host-layout: the sizes of the host classes and the offsets and sizes of the host members that
// librvt2600.so reads and writes, as the declarations this file is compiled against lay them
// out. The plugin touches these members at the offsets of the declarations it was built
// against; the build writes this same table into INTEGRATION.txt. Whether a built plugin fits
// a host framework: compile this file against the framework's headers with the controller's
// compiler (HostAdapter.h beside it), run it there or under qemu, and compare:
//
//   g++ -std=c++17 -I FRAMEWORK_INCLUDE -I DIR_OF_THIS_FILE host-layout.cpp -o host-layout
//
// (with -I for what the framework's headers include: Boost, jsoncpp, ...)
//   ./host-layout | diff - <(sed -n '/^host layout/,/^end of host layout/p' INTEGRATION.txt)
//
// Equal tables: the plugin fits that host. Any difference: build the plugin against the
// framework's headers (-DRVT_HOST_INCLUDE_DIR=FRAMEWORK_INCLUDE).
//
// The table is made at compile time and kept whole in the object, so that the build reads it
// from there without running the program (a cross build need not run anything).
#include <cstddef>
#include <cstdio>

#include "HostAdapter.h"

namespace {

struct Row {
  const char* name;
  bool member;  // a member: offset and size; a class: size only
  size_t offset;
  size_t size;
};

// The host classes have virtual functions: offsetof on them is conditionally supported, and GCC
// and clang support it for classes without virtual bases, as these are.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
// clang-format off
#define RVT_CLASS(Class) Row{#Class, false, 0, sizeof(Class)}
#define RVT_MEMBER(Class, member) \
  Row{#Class "::" #member, true, offsetof(Class, member), sizeof(Class::member)}
// clang-format on

constexpr Row kRows[] = {
    RVT_CLASS(VDeviceInterface),
    Row{"VDeviceInterface: device type", true, offsetof(VDeviceInterface, RVT_HOST_DEVICE_TYPE),
        sizeof(VDeviceInterface::RVT_HOST_DEVICE_TYPE)},
    RVT_CLASS(ZelVDevice),
    RVT_MEMBER(ZelVDevice, dataReady_),
    RVT_MEMBER(ZelVDevice, lastUpdate_),
    RVT_MEMBER(ZelVDevice, ruleSeq_),
    RVT_MEMBER(ZelVDevice, rules_),
    RVT_MEMBER(ZelVDevice, alarmFlag_),
    RVT_CLASS(ZelSPDevice),
    RVT_MEMBER(ZelSPDevice, spStatus_),
    RVT_MEMBER(ZelSPDevice, serialFlag_),
    RVT_MEMBER(ZelSPDevice, baudRate_),
    RVT_CLASS(PMBusProtocol),
    RVT_MEMBER(PMBusProtocol, reply_),
    RVT_MEMBER(PMBusProtocol, step_),
    RVT_MEMBER(PMBusProtocol, protocolVersion_),
    RVT_CLASS(Provider),
    RVT_CLASS(ZelSPDeviceProvider),
    RVT_CLASS(rule_value),
    Row{"get_ttime's result", false, 0, sizeof(rvt::TimeStamp)},
};
#undef RVT_MEMBER
#undef RVT_CLASS
#pragma GCC diagnostic pop

constexpr const char* kFirst = "host layout, in bytes";
constexpr const char* kLast = "end of host layout";
constexpr size_t kNameWidth = 34;
constexpr size_t kNumberWidth = 8;

template <class Out>
constexpr void PutText(Out& out, const char* text) {
  while (*text != '\0') out.Put(*text++);
}

template <class Out>
constexpr void PutPadded(Out& out, const char* text, size_t width) {
  size_t n = 0;
  for (; text[n] != '\0'; ++n) out.Put(text[n]);
  for (; n < width; ++n) out.Put(' ');
}

template <class Out>
constexpr void PutNumber(Out& out, size_t value, size_t width) {
  char digits[20] = {};
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t k = n; k < width; ++k) out.Put(' ');
  while (n > 0) out.Put(digits[--n]);
}

template <class Out>
constexpr void Render(Out& out) {
  PutPadded(out, kFirst, kNameWidth);
  PutPadded(out, "  offset", kNumberWidth);
  PutPadded(out, "    size", kNumberWidth);
  out.Put('\n');
  for (const Row& row : kRows) {
    PutPadded(out, row.name, kNameWidth);
    if (row.member) {
      PutNumber(out, row.offset, kNumberWidth);
    } else {
      PutPadded(out, "", kNumberWidth - 1);
      out.Put('-');
    }
    PutNumber(out, row.size, kNumberWidth);
    out.Put('\n');
  }
  PutText(out, kLast);
  out.Put('\n');
}

struct Counter {
  size_t used = 0;
  constexpr void Put(char) { ++used; }
};

template <size_t N>
struct Text {
  char chars[N + 1] = {};  // NUL-terminated: the build reads the table up to it
  size_t used = 0;
  constexpr void Put(char c) {
    if (used < N) chars[used] = c;
    ++used;
  }
};

constexpr size_t kLength = [] {
  Counter counter;
  Render(counter);
  return counter.used;
}();

[[gnu::used]] constexpr Text<kLength> kTable = [] {
  Text<kLength> text;
  Render(text);
  return text;
}();

}  // namespace

int main() {
  return std::fwrite(kTable.chars, 1, kLength, stdout) == kLength ? 0 : 1;
}
