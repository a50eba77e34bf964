#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "History.h"

// The session report: one HTML page that opens from disk with the trends of every unit, the
// alarm timeline and the line's gaps of a recorded session; uPlot and the data are inside it.
namespace zel {

inline double ReportNumber(double v) {
  return v;
}

// Collects the decoded images and the alarm events of a session, then writes the page.
class SessionReport {
 public:
  // Rounds of a unit drawn one by one up to this many; more are thinned to the smallest and
  // the largest value of each of kColumns equal spans of time.
  static constexpr size_t kColumns = 1000;
  // No round for longer than this many of a unit's usual round periods: the line was lost.
  static constexpr int kGapPeriods = 5;

  SessionReport();
  ~SessionReport();
  SessionReport(const SessionReport&) = delete;
  SessionReport& operator=(const SessionReport&) = delete;

  // Whether the page draws a decoded field of a data type.
  static bool Draws(unsigned dataType, const std::string& name);

  // The range asked for, shown in the head; either end may be not_a_date_time.
  void SetRange(boost::posix_time::ptime from, boost::posix_time::ptime to);

  // Where the time of a unit's last round can be asked for before its rounds are all in (the
  // reader's, for a history): a unit with more than 2 * kColumns rounds is then thinned as its
  // rounds come, and the report's memory does not grow with them. Without it, the rounds are
  // kept until the page is written.
  void SetLastRound(
      std::function<std::optional<boost::posix_time::ptime>(unsigned dataId)> lastRound);

  // The first and last round the history holds (times as it writes them), for the head.
  void SetHeld(const std::string& first, const std::string& last);

  // One saved image, decoded: (name, value) pairs in layout order; the images of a data id
  // come in the order they were saved. Fields the page does not draw are left out.
  template <class Fields>
  void AddImage(unsigned dataId, unsigned dataType, boost::posix_time::ptime time,
                const Fields& fields) {
    BeginImage(dataId, dataType, time, fields.size());
    for (const auto& [name, value] : fields) Value(name, ReportNumber(value));
  }

  // The same, field by field: BeginImage, then Value for each field in layout order.
  void BeginImage(unsigned dataId, unsigned dataType, boost::posix_time::ptime time,
                  size_t fieldCount);
  void Value(const std::string& name, double value);

  // A saved image that did not decode: counted in the head.
  void AddUndecoded() { ++undecoded_; }

  // Alarm events up to the end of the range, in time order; those before its start give the
  // state at the start. An event whose time does not read is left out.
  void AddAlarm(const AlarmRecord& alarm);

  // The whole page.
  std::string Page() const;

  size_t Images() const { return images_; }

 private:
  struct Unit;

  boost::posix_time::ptime from_;
  boost::posix_time::ptime to_;
  std::map<unsigned, std::unique_ptr<Unit>> units_;
  Unit* current_ = nullptr;
  size_t field_ = 0;
  size_t images_ = 0;
  size_t undecoded_ = 0;
  std::function<std::optional<int64_t>(unsigned)> lastRound_;
  std::string heldFirst_;
  std::string heldLast_;
  std::vector<AlarmRecord> alarms_;
  std::vector<int64_t> alarmTimes_;  // of alarms_, in seconds
};

}  // namespace zel
