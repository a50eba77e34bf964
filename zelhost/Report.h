#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The session report: one HTML page that opens from disk with the trends of every unit, the
// alarm timeline and the line's gaps of a recorded session; uPlot and the data are inside it.
namespace zel {

inline double ReportNumber(double v) {
  return v;
}

// One alarm event of the history.
struct ReportAlarm {
  unsigned device = 0;  // the data id of the unit that raised it
  std::string ruleId;
  unsigned seq = 0;
  std::string code;
  std::string name;
  std::string text;
  int level = 0;
  bool raised = true;  // false: cleared
  boost::posix_time::ptime time;
};

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

  // The range asked for, shown in the head; either end may be not_a_date_time.
  void SetRange(boost::posix_time::ptime from, boost::posix_time::ptime to);

  // One saved image, decoded: (name, value) pairs in layout order; the images of a data id
  // come in time order. Fields the page does not draw are left out.
  template <class Fields>
  void AddImage(unsigned dataId, unsigned dataType, boost::posix_time::ptime time,
                const Fields& fields) {
    BeginImage(dataId, dataType, time, fields.size());
    for (const auto& [name, value] : fields) Value(name, ReportNumber(value));
  }

  // Alarm events up to the end of the range, in time order; those before its start give the
  // state at the start.
  void AddAlarm(const ReportAlarm& alarm);

  // The whole page.
  std::string Page() const;

  size_t Images() const { return images_; }

 private:
  struct Unit;

  void BeginImage(unsigned dataId, unsigned dataType, boost::posix_time::ptime time,
                  size_t fieldCount);
  void Value(const std::string& name, double value);

  boost::posix_time::ptime from_;
  boost::posix_time::ptime to_;
  std::map<unsigned, std::unique_ptr<Unit>> units_;
  Unit* current_ = nullptr;
  size_t field_ = 0;
  size_t images_ = 0;
  std::vector<ReportAlarm> alarms_;
};

}  // namespace zel
