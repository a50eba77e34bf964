// Text from the line is data: a simulated power system whose model field holds markup, terminal
// commands or bytes that are not UTF-8 (the plugin copies the field into its model alarm) runs
// one short session per case. Standard output and standard error carry no raw control byte,
// the events and the alarm CSV keep the exact text, and the report page, loaded in headless
// chromium, draws every chart and shows the text literally.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Case {
  const char* name;
  std::string model;  // up to 20 bytes; the simulator fills the field with blanks
  std::string shown;  // how the terminal shows it
  std::string page;   // the text the page shows (a byte that is not UTF-8 as U+FFFD)
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const std::string kFffd = "\xEF\xBF\xBD";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"CommentThenScript", "<!--<script>", "<!--<script>", "<!--<script>"},
      {"TerminalCommands", "\x1b]0;owned\x07\x1b[2J\x1b[1m", "\\x1b]0;owned\\x07\\x1b[2J\\x1b[1m",
       "\x1b]0;owned\x07\x1b[2J\x1b[1m"},
      {"EndOfScript", "</script>", "</script>", "</script>"},
      {"CommentOpen", "<!--", "<!--", "<!--"},
      {"CdataEndAndAmpersand", "]]>&lt;", "]]>&lt;", "]]>&lt;"},
      {"LineSeparator",
       "RVT\xE2\x80\xA8"
       "2600",
       "RVT\xE2\x80\xA8"
       "2600",
       "RVT\xE2\x80\xA8"
       "2600"},
      {"CarriageReturn", "RVT2600\rX", "RVT2600\\rX", "RVT2600\rX"},
      {"NotUtf8",
       "RVT\xff\xfe"
       "2600\xc3",
       "RVT\\xff\\xfe2600\\xc3", "RVT" + kFffd + kFffd + "2600" + kFffd},
  };
  return cases;
}

// The blanks that fill the 20-byte field after the case's model.
std::string Fill(const Case& c) {
  return std::string(20 - c.model.size(), ' ');
}

std::string ModelAlarm(const std::string& field) {
  return "本驱动类型:rvt2600 检测型号:" + field;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A JSON string of any bytes: controls, quote and backslash escaped, the rest as they are.
std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || c == '"' || c == '\\') {
      char e[8];
      std::snprintf(e, sizeof e, "\\u%04x", b);
      out += e;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The first byte of a text that a terminal would act on, or -1: C0 controls but tab and
// newline, DEL, and bytes that are not UTF-8.
long RawControlAt(const std::string& text) {
  for (size_t k = 0; k < text.size();) {
    const auto b = static_cast<unsigned char>(text[k]);
    if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) return static_cast<long>(k);
    size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : 4;
    if (b >= 0x80 && (b < 0xC2 || b > 0xF4)) return static_cast<long>(k);
    if (k + n > text.size()) return static_cast<long>(k);
    for (size_t j = 1; j < n; ++j)
      if ((static_cast<unsigned char>(text[k + j]) & 0xC0) != 0x80) return static_cast<long>(k);
    k += n;
  }
  return -1;
}

// CSV records (a quoted field may hold commas, quotes and line breaks), as lists of fields.
std::vector<std::vector<std::string>> CsvRecords(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    std::string& field = records.back().back();
    if (quoted) {
      if (c == '"' && k + 1 < text.size() && text[k + 1] == '"') {
        field += '"';
        ++k;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\n') {
      records.emplace_back(1);
    } else {
      field += c;
    }
  }
  if (records.back().size() == 1 && records.back()[0].empty()) records.pop_back();
  return records;
}

// What the serialised DOM writes for a text node, read back.
std::string Unescaped(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&nbsp;", "\xC2\xA0"}, {"&amp;", "&"}};
  for (const auto& [entity, c] : entities)
    for (size_t at = 0; (at = text.find(entity, at)) != std::string::npos; at += 1)
      text.replace(at, std::string(entity).size(), c);
  return text;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

class HostileText : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "hostile_XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    dir = pattern + "/";
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
  }

  // Runs zelhost; its standard output and error go to files named after `run`.
  int Zelhost(const std::string& run, const std::string& args) {
    const std::string cmd = std::string(ZELHOST_PROGRAM) + " " + args + " > '" + dir + run +
                            ".out' 2> '" + dir + run + ".err'";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  std::string dir;
};

TEST_P(HostileText, StaysDataOnTheTerminalInTheFilesAndOnThePage) {
  const Case& c = GetParam();
  const std::string field = c.model + Fill(c);
  std::ofstream(dir + "site.json") << "{\"model\": " << JsonString(c.model) << R"(,
    "ac": [{"channels": [{"a": 229.8, "b": 230.4, "c": 231.1, "f": 50.0},
                         {"a": 228.6, "b": 229.9, "c": 230.2, "f": 50.0},
                         {"a": 231.5, "b": 230.8, "c": 229.4, "f": 49.9}],
            "ia": 11.2, "ib": 10.8, "ic": 11.5}],
    "rc": {"group": 53.5, "modules": [{"analog": 19.8}, {"analog": 20.1}]},
    "dc": [{"v": 53.5, "i": 118.7, "fuses": 64}]})";
  std::ofstream(dir + "config.json")
      << "{\"plugin\": \"" << ZELHOST_PLUGIN
      << R"(", "devices": [{"type": "rvt2600", "data_id": 100, "settings": {"port": "sim:site.json",
         "acSetting": [{"data_id": 101}], "dcSetting": [{"data_id": 102}], "rcSetting": {}}}]})";

  // The session on the simulator: summary on standard output, log and trace on standard error.
  ASSERT_EQ(Zelhost("live", "--config '" + dir + "config.json' --rounds 1 --trace --history '" +
                                dir + "session.db' --record '" + dir + "session.replay'"),
            0)
      << ReadFile(dir + "live.err");
  const std::string out = ReadFile(dir + "live.out");
  const std::string err = ReadFile(dir + "live.err");
  EXPECT_EQ(RawControlAt(out), -1) << out;
  EXPECT_EQ(RawControlAt(err), -1) << err;
  EXPECT_NE(out.find(" " + ModelAlarm(c.shown + Fill(c)) + "\n"), std::string::npos) << out;

  // The events of the same session, replayed: JSON lines with the exact text.
  ASSERT_EQ(Zelhost("events", "--config '" + dir + "config.json' --replay '" + dir +
                                  "session.replay' --events -"),
            0)
      << ReadFile(dir + "events.err");
  EXPECT_EQ(RawControlAt(ReadFile(dir + "events.err")), -1);
  size_t alarms = 0;
  std::istringstream events(ReadFile(dir + "events.out"));
  for (std::string line; std::getline(events, line);) {
    Json::Value v;
    std::istringstream in(line);
    Json::CharReaderBuilder b;
    std::string errors;
    ASSERT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << line;
    if (v["event"] == "alarm") {
      EXPECT_EQ(v["text"].asString(), ModelAlarm(field));
      ++alarms;
    }
  }
  EXPECT_EQ(alarms, 1u);

  // The alarm CSV: one width, the exact text.
  ASSERT_EQ(Zelhost("alarms", "--history '" + dir + "session.db' --export alarms"), 0);
  const auto records = CsvRecords(ReadFile(dir + "alarms.out"));
  ASSERT_EQ(records.size(), 2u) << ReadFile(dir + "alarms.out");
  EXPECT_EQ(records[0].size(), 9u);
  EXPECT_EQ(records[1].size(), 9u);
  EXPECT_EQ(records[1][6], ModelAlarm(field));

  // The page in headless chromium: the script ran, every chart is drawn, the text is literal.
  ASSERT_EQ(Zelhost("report", "--history '" + dir + "session.db' --report '" + dir + "page.html'"),
            0);
  const std::string chromium = std::string(RVT_CHROMIUM) +
                               " --headless --no-sandbox --disable-gpu --no-first-run"
                               " --disable-background-networking --disable-component-update"
                               " --disable-sync --user-data-dir='" +
                               dir + "profile' --dump-dom 'file://" + dir + "page.html' > '" + dir +
                               "page.dom' 2> '" + dir + "chromium.err'";
  ASSERT_EQ(std::system(chromium.c_str()), 0) << ReadFile(dir + "chromium.err");
  const std::string dom = ReadFile(dir + "page.dom");
  EXPECT_NE(dom.find("<pre id=\"errors\"></pre>"), std::string::npos) << dom.substr(0, 2000);
  EXPECT_NE(dom.find("data-draw-ms=\""), std::string::npos);
  // Three channels and the phase currents, the group and the modules, the DC output.
  EXPECT_EQ(Count(dom, "<div class=\"uplot"), 7u);
  const size_t label = dom.find("class=\"alarm-label\"");
  ASSERT_NE(label, std::string::npos);
  const size_t begin = dom.find('>', label) + 1;
  const std::string shown = Unescaped(dom.substr(begin, dom.find("</div>", begin) - begin));
  const std::string expected = " " + ModelAlarm(c.page + Fill(c));
  EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), expected.size())), expected);
}

INSTANTIATE_TEST_SUITE_P(ModelField, HostileText, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
