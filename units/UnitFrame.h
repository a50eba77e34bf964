#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BoundedReader.h"
#include "HostAdapter.h"

// A rule's strings as the host is handed them, made once from the literals of its table row:
// id, code, name, and the text where the row gives all of it.
struct RuleStrings {
  std::string id;
  std::string code;
  std::string name;
  std::string text;
};

// The strings of every row of a rule table, in table order; text names the row's field that
// holds the whole alarm text, if any. Made in a loop, so that a table costs no code per row.
template <class Row, size_t N>
std::vector<RuleStrings> StringsOf(const Row (&rows)[N], const char* Row::*text = nullptr) {
  std::vector<RuleStrings> strings(N);
  for (size_t k = 0; k < N; ++k) {
    strings[k].id = rows[k].id;
    strings[k].code = rows[k].code;
    strings[k].name = rows[k].name;
    if (text != nullptr) strings[k].text = rows[k].*text;
  }
  return strings;
}

// The texts of the rules that a unit raises once per instance (channel, module or fuse), a few
// rows per instance: made when the instance count changes and kept from round to round, so that
// a round hands the host strings it already holds instead of building them again.
class InstanceTexts {
 public:
  InstanceTexts();
  ~InstanceTexts();

  // Fits the texts to count instances of rows rows each; make(k, row) gives the text of that
  // row of instance k (k from 0).
  void Fit(size_t count, size_t rows, std::string (*make)(size_t k, size_t row));

  const std::string& At(size_t k, size_t row) const { return texts_[k * rows_ + row]; }

 private:
  std::vector<std::string> texts_;
  size_t count_ = 0;
  size_t rows_ = 0;
  bool made_ = false;
};

// What the three units share: the query preamble, cache and settings steps, the steps of a
// round and the work item, and the length rule of the parsers. Adds no virtual operation, so
// the units' own operations follow the host's slots directly.
class UnitFrame : public ZelSPDevice {
 protected:
  // Throws "数据未就绪" before the first data, "数据已超时" more than 60 s after the last update.
  void CheckFresh() const;

  // Reads "appSetting" { "diff_v", "diff_i" } through their text; absent keys keep the values.
  static void ReadThresholds(const Json::Value& settings, float& diffV, float& diffI);

  // An accepted cache image makes the data ready now.
  void MarkLoaded();

  // First steps of a round: the last-update time, then the record's time stamp.
  void StampRound(rvt::TimeStamp& stamp);

  // Publishes the image, builds the round's rules from sequence 1, runs the model hook and
  // hands the rules and a copy of the image to the host's work item.
  template <class BuildRules, class Hook>
  void PublishRound(int dataType, const unsigned char* image, uint32_t len, BuildRules&& rules,
                    Hook&& hook) {
    SendSP(dataType, image, len, false);
    ruleSeq_ = 1;
    rules();
    hook();
    HandOff(image, len);
  }

  // One rule with the next sequence number.
  void AddRule(int level, const std::string& id, const std::string& code, const std::string& name,
               const std::string& text, bool active);

  // The rules of a table raised once per instance, instance by instance and each in table
  // order: the table's strings, the instance's kept text, active when the instance's state byte
  // holds the row's value. The texts are fitted to the instances beforehand.
  template <class Row, size_t N, class Instance>
  void AddInstanceRules(const Row (&rows)[N], const std::vector<RuleStrings>& strings,
                        const InstanceTexts& texts, const std::vector<Instance>& instances);

  // The length rule: the part's length, or the overflow line and -1.
  int Finish(const BoundedReader& r, const char* overflowFormat) const;

  // Sizes an owned image buffer to len (zero-filled when it is made or resized).
  static void FitImage(std::unique_ptr<unsigned char[]>& image, uint32_t& size, uint32_t len);

  // Head record then channel records, into the image buffer made to fit.
  template <class Head, class Channel>
  static void ComposeImage(std::unique_ptr<unsigned char[]>& image, uint32_t& size,
                           const Head& head, const std::vector<Channel>& channels) {
    FitImage(image, size, static_cast<uint32_t>(sizeof(Head) + sizeof(Channel) * channels.size()));
    std::memcpy(image.get(), &head, sizeof(Head));
    if (!channels.empty())
      std::memcpy(image.get() + sizeof(Head), channels.data(), sizeof(Channel) * channels.size());
  }

  // Takes the channel part of a cached image whose head (headSize bytes) is already taken and
  // whose channel list is already sized by the head's count; accepts it only when it holds
  // exactly those channels.
  template <class Channel>
  bool LoadChannels(const unsigned char* data, int len, size_t headSize,
                    std::vector<Channel>& channels) {
    if (len < 0 || static_cast<size_t>(len) != headSize + sizeof(Channel) * channels.size())
      return false;
    if (!channels.empty())
      std::memcpy(channels.data(), data + headSize, sizeof(Channel) * channels.size());
    MarkLoaded();
    return true;
  }

 private:
  void HandOff(const unsigned char* image, uint32_t len);
};

template <class Row, size_t N, class Instance>
void UnitFrame::AddInstanceRules(const Row (&rows)[N], const std::vector<RuleStrings>& strings,
                                 const InstanceTexts& texts,
                                 const std::vector<Instance>& instances) {
  for (size_t k = 0; k < instances.size(); ++k) {
    for (size_t row = 0; row < N; ++row) {
      const Row& rule = rows[row];
      AddRule(rule.level, strings[row].id, strings[row].code, strings[row].name, texts.At(k, row),
              instances[k].*rule.state == rule.value);
    }
  }
}

// The bytes of a record, for publishing and copying.
template <class Record>
const unsigned char* RecordBytes(const Record& r) {
  return reinterpret_cast<const unsigned char*>(&r);
}
