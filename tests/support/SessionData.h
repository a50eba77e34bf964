#pragma once

// The session data a report page carries, parsed back from the page's JSON element.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <sstream>
#include <string>

inline Json::Value SessionDataOf(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"session\">";
  const size_t from = page.find(open);
  EXPECT_NE(from, std::string::npos);
  if (from == std::string::npos) return {};
  const size_t to = page.find("</script>", from);
  std::istringstream in(page.substr(from + open.size(), to - from - open.size()));
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  EXPECT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << errors;
  return v;
}
