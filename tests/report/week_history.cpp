// Writes a long history for the report tests straight into a history database, through the
// bench host's history: the reference site's images, as the simulator's truth gives them, one
// round every 2 s, with daily swings, a module fault now and then (with its alarm events, as the
// host's rule evaluation writes them), a not-available phase current every 997th round and the
// line lost for an hour on the third day. With KEEP_DAYS the history keeps that many days and
// commits every round, as a session does.
//   report-week-history DB ROUNDS [KEEP_DAYS]
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "Scenario.h"
#include "SqliteHistory.h"
#include "Truth.h"

namespace {

namespace pt = boost::posix_time;

constexpr long kPeriodS = 2;
constexpr double kDayS = 86400;
constexpr double kTwoPi = 6.283185307179586;
const pt::ptime kStart(boost::gregorian::date(2026, 1, 1));

double Daily(long t, double mean, double swing, double phase = 0) {
  return mean + swing * std::sin(kTwoPi * (static_cast<double>(t) / kDayS) + phase);
}

sim::Stamp StampOf(pt::ptime t) {
  const auto d = t.date();
  const auto tod = t.time_of_day();
  const unsigned year = d.year();
  return {static_cast<uint8_t>(year & 0xFF),           static_cast<uint8_t>(year >> 8),
          static_cast<uint8_t>(d.month().as_number()), static_cast<uint8_t>(d.day().as_number()),
          static_cast<uint8_t>(tod.hours()),           static_cast<uint8_t>(tod.minutes()),
          static_cast<uint8_t>(tod.seconds())};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: report-week-history DB ROUNDS [KEEP_DAYS]\n");
    return 2;
  }
  try {
    const long rounds = std::stol(argv[2]);
    std::optional<double> keepDays;
    if (argc == 4) keepDays = std::stod(argv[3]);
    zel::SqliteHistory history(argv[1], keepDays);
    sim::Site site = sim::Scenario::Load(RVT_REFERENCE_SCENARIO).SiteAt(1);
    const sim::ImageIds ids{{101}, {102}, 100};
    const long lostFrom = static_cast<long>(2.5 * kDayS);
    const long lostTo = lostFrom + 3600;
    sim::Images images;
    bool faulty = false;
    for (long r = 0; r < rounds; ++r) {
      const long t = r * kPeriodS;
      if (t >= lostFrom && t < lostTo) continue;
      sim::AcUnit& ac = site.ac[0];
      for (size_t c = 0; c < ac.channels.size(); ++c) {
        const double phase = static_cast<double>(c);
        ac.channels[c].a = sim::Word::Float(static_cast<float>(Daily(t, 230, 4, phase)));
        ac.channels[c].b = sim::Word::Float(static_cast<float>(Daily(t, 229, 4, phase + 2)));
        ac.channels[c].c = sim::Word::Float(static_cast<float>(Daily(t, 231, 4, phase + 4)));
        ac.channels[c].f = sim::Word::Float(static_cast<float>(50 + 0.05 * std::sin(t / 21600.0)));
      }
      ac.ia = r % 997 == 0 ? sim::Word::NotAvailable()
                           : sim::Word::Float(static_cast<float>(Daily(t, 11, 3)));
      ac.ib = sim::Word::Float(static_cast<float>(Daily(t, 10.5, 3, 0.3)));
      ac.ic = sim::Word::Float(static_cast<float>(Daily(t, 11.5, 3, 0.6)));
      site.rc.group = sim::Word::Float(static_cast<float>(Daily(t, 53.5, 0.4)));
      const pt::ptime when = kStart + pt::seconds(t);
      const bool fault = (t / 3600) % 30 == 7;  // module 2, an hour now and then
      if (fault != faulty) {
        zel::AlarmRecord a;
        a.device = ids.rc;
        a.ruleId = "RC_0";
        a.seq = 2;
        a.code = "06024";
        a.name = "整流模块故障告警";
        a.text = "模块2整流模块故障告警";
        a.level = 2;
        a.raised = fault;
        a.time = zel::HistoryTime(when);
        history.AppendAlarm(a);
        faulty = fault;
      }
      for (size_t m = 0; m < site.rc.modules.size(); ++m) {
        site.rc.modules[m].fault = fault && m == 1 ? 1 : 0;
        site.rc.modules[m].analog =
            sim::Word::Float(fault && m == 1 ? 0.0f : static_cast<float>(Daily(t, 20, 2, 0.1 * m)));
      }
      site.dc[0].v = sim::Word::Float(static_cast<float>(Daily(t, 53.5, 0.4)));
      site.dc[0].i = sim::Word::Float(static_cast<float>(Daily(t, 118, 25, 1)));
      if (!sim::TruthImages(site, ids, StampOf(when), images)) {
        std::fprintf(stderr, "report-week-history: the reference site gives no images\n");
        return 1;
      }
      history.Append(ids.ac[0], when, images.ac[0]);
      history.Append(ids.rc, when, images.rc);
      history.Append(ids.dc[0], when, images.dc[0]);
      if (keepDays || r % 1000 == 999) history.Commit();  // else one per 1000 rounds: quick
    }
    history.Commit();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "report-week-history: %s\n", e.what());
    return 1;
  }
  return 0;
}
