#pragma once

#include <json/value.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "Journal.h"

class ZelVDevice;

namespace zel {

// A value query's answer: the number, or the text of what it threw.
using Answer = std::variant<float, std::string>;
using Answers = std::vector<std::pair<std::string, Answer>>;

// Whether a device answers value queries (the AC and DC units), and what it answers: the
// unit-level names, then channel_K_a, _b, _c, _f up to the first channel that does not answer,
// named with K from 1 (the decoder's names) though the queries count from 0.
bool AnswersValues(const ZelVDevice& unit);
Answers ReadValues(const ZelVDevice& unit);

// Writes events as JSON, one object a line, through a sink that takes whole lines (without the
// newline). Safe to call from the polling thread and the work-item thread.
class EventWriter {
 public:
  explicit EventWriter(std::function<void(const std::string&)> sink);

  // Journal events: request, publish, rules, alarm, log; history and reset write nothing.
  void Write(const Event& e);
  void Values(unsigned int device, const Answers& values);
  void Cache(unsigned int device, bool accepted);
  void Round(unsigned int device, uint64_t round);
  void End(unsigned int device);

 private:
  void Emit(const Json::Value& v);

  std::mutex mutex_;
  std::function<void(const std::string&)> sink_;
};

}  // namespace zel
