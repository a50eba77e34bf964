#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "History.h"
#include "Journal.h"
#include "ZelController.h"

namespace zel {

// The stand-in controller: keeps a journal of everything the devices hand it, evaluates rules
// into raised/cleared alarm events, stores history and runs work items (inline, or in order on
// one worker thread).
class Controller : public ZelController {
 public:
  enum class Work { Inline, Thread };
  explicit Controller(Work work = Work::Inline,
                      std::shared_ptr<HistoryStore> history = std::make_shared<MemoryHistory>());
  ~Controller() override;

  void Log(unsigned int device, const std::string& line) override;
  void Publish(unsigned int device, int dataType, const unsigned char* image,
               unsigned int len) override;
  bool EvaluateRules(unsigned int device, const std::vector<rule_value>& rules) override;
  void SaveHistory(unsigned int device, const unsigned char* image, unsigned int len) override;
  void RunWork(std::function<void()> item) override;
  void Request(unsigned int device, unsigned char cid1, unsigned char cid2,
               const unsigned char* info, unsigned int len) override;
  void DeviceReset(unsigned int device) override;

  // Waits until every queued work item has run.
  void Drain();
  // Work items queued and not yet run (thread mode); tests use it to run them later.
  void HoldWork(bool hold);

  std::vector<Event> Journal() const;
  std::vector<Event> Journal(Event::Kind kind) const;
  void ClearJournal();
  // Called for every event as it is added (on the thread that adds it).
  void SetListener(std::function<void(const Event&)> listener);
  HistoryStore& History() { return *history_; }

 private:
  void Add(Event event);
  void WorkerLoop();

  mutable std::mutex mutex_;
  std::vector<Event> journal_;
  std::function<void(const Event&)> listener_;
  std::map<unsigned int, std::map<std::pair<std::string, uint32_t>, bool>> ruleState_;
  std::shared_ptr<HistoryStore> history_;

  Work work_;
  std::mutex workMutex_;
  std::condition_variable workCv_;
  std::deque<std::function<void()>> queue_;
  bool hold_ = false;
  bool busy_ = false;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace zel
