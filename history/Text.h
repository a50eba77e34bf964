#pragma once

// Text that came from a power system (the model field, and the alarm text built from it) is
// data wherever it is shown: these put it where a terminal or a page cannot take it for
// commands or markup. Files for programs (JSON, CSV) keep it exact under their own quoting.
#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

// The length of the well-formed UTF-8 sequence at `at` (1 to 4), 0 if the bytes there are not
// one: overlong forms, surrogates, code points above U+10FFFF and cut sequences are not.
size_t Utf8Length(std::string_view text, size_t at);

// For standard output and standard error: C0 control bytes other than tab and newline, DEL
// and bytes that are not UTF-8 shown as \xNN (ESC as \x1b, 0xFF as \xff), CR as \r, so that
// they are visible and do nothing; valid UTF-8 (the alarm texts) as it is.
std::string ForTerminal(std::string_view text);

// JSON text (as jsoncpp writes it, UTF-8 unescaped) made safe inside an HTML script element:
// <, >, & and U+2028, U+2029 as \u escapes, and a byte that is not UTF-8 as \ufffd. These occur
// only inside the JSON's strings, where the escapes read back as the same characters.
std::string ForScript(std::string_view json);

}  // namespace zel
