// Writes a history database's rows as one input of the history target.
//   fuzz_history_seed DB > fuzz/corpus/history/NAME
#include <cstdio>
#include <exception>

#include "HistoryReader.h"
#include "HistoryTarget.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_history_seed DB > SEED\n");
    return 2;
  }
  try {
    rvt_fuzz::HistoryRows rows;
    zel::HistoryReader reader(argv[1]);
    reader.Images({}, [&rows](const zel::SavedImage& s) {
      rows.images.push_back({s.dataId, s.time, s.image});
    });
    reader.Alarms({}, [&rows](const zel::AlarmRecord& a) { rows.alarms.push_back(a); });
    const std::vector<uint8_t> input = rvt_fuzz::HistoryInput(rows);
    std::fwrite(input.data(), 1, input.size(), stdout);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_history_seed: %s\n", e.what());
    return 1;
  }
  return 0;
}
