#include "Controller.h"

#include "Clock.h"

namespace zel {

Controller::Controller(Work work, std::shared_ptr<HistoryStore> history)
    : history_(std::move(history)), work_(work) {
  // A restart does not raise again what the history shows active, nor clear what it shows
  // cleared.
  for (const AlarmRecord& a : history_->LastAlarms())
    ruleState_[a.device][{a.ruleId, a.seq}] = a.raised;
  if (work_ == Work::Thread) worker_ = std::thread([this] { WorkerLoop(); });
}

Controller::~Controller() {
  if (worker_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(workMutex_);
      hold_ = false;
      stop_ = true;
    }
    workCv_.notify_all();
    worker_.join();
  }
}

void Controller::Add(Event event) {
  std::function<void(const Event&)> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    journal_.push_back(event);
    listener = listener_;
  }
  if (listener) listener(event);
}

void Controller::Log(unsigned int device, const std::string& line) {
  Event e{Event::Kind::Log};
  e.device = device;
  e.text = line;
  Add(std::move(e));
}

void Controller::Publish(unsigned int device, int dataType, const unsigned char* image,
                         unsigned int len) {
  Event e{Event::Kind::Publish};
  e.device = device;
  e.dataType = dataType;
  e.bytes.assign(image, image + len);
  Add(std::move(e));
}

bool Controller::EvaluateRules(unsigned int device, const std::vector<rule_value>& rules) {
  Event batch{Event::Kind::Rules};
  batch.device = device;
  batch.rules = rules;
  Add(std::move(batch));

  bool anyActive = false;
  for (const rule_value& r : rules) {
    const bool active = r.active != 0;
    anyActive = anyActive || active;
    bool changed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bool& last = ruleState_[device][{r.id, r.seq}];  // a new rule counts as inactive
      changed = last != active;
      last = active;
    }
    if (changed) {
      AlarmRecord saved;
      saved.device = device;
      saved.ruleId = r.id;
      saved.seq = r.seq;
      saved.code = r.code;
      saved.name = r.name;
      saved.text = r.text;
      saved.level = r.level;
      saved.raised = active;
      saved.time = HistoryTime(HostClock::Now());
      history_->AppendAlarm(saved);
      Event e{Event::Kind::Alarm};
      e.device = device;
      e.id = r.id;
      e.seq = r.seq;
      e.text = r.text;
      e.raised = active;
      Add(std::move(e));
    }
  }
  return anyActive;
}

void Controller::SaveHistory(unsigned int device, const unsigned char* image, unsigned int len) {
  std::vector<unsigned char> bytes(image, image + len);
  history_->Append(device, HostClock::Now(), bytes);
  Event e{Event::Kind::History};
  e.device = device;
  e.bytes = std::move(bytes);
  Add(std::move(e));
}

void Controller::RunWork(std::function<void()> item) {
  if (work_ == Work::Inline) {
    item();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(workMutex_);
    queue_.push_back(std::move(item));
  }
  workCv_.notify_all();
}

void Controller::Request(unsigned int device, unsigned char cid1, unsigned char cid2,
                         const unsigned char* info, unsigned int len) {
  Event e{Event::Kind::Request};
  e.device = device;
  e.cid1 = cid1;
  e.cid2 = cid2;
  if (info != nullptr) e.bytes.assign(info, info + len);
  Add(std::move(e));
}

void Controller::DeviceReset(unsigned int device) {
  Event e{Event::Kind::Reset};
  e.device = device;
  Add(std::move(e));
}

void Controller::WorkerLoop() {
  std::unique_lock<std::mutex> lock(workMutex_);
  for (;;) {
    workCv_.wait(lock, [this] { return stop_ || (!hold_ && !queue_.empty()); });
    if (queue_.empty() || hold_) {
      if (stop_) return;
      continue;
    }
    std::function<void()> item = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    item();
    lock.lock();
    busy_ = false;
    workCv_.notify_all();
  }
}

void Controller::Drain() {
  if (work_ == Work::Inline) return;
  std::unique_lock<std::mutex> lock(workMutex_);
  hold_ = false;
  workCv_.notify_all();
  workCv_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void Controller::HoldWork(bool hold) {
  {
    std::lock_guard<std::mutex> lock(workMutex_);
    hold_ = hold;
  }
  workCv_.notify_all();
}

std::vector<Event> Controller::Journal() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return journal_;
}

std::vector<Event> Controller::Journal(Event::Kind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Event> out;
  for (const Event& e : journal_)
    if (e.kind == kind) out.push_back(e);
  return out;
}

void Controller::ClearJournal() {
  std::lock_guard<std::mutex> lock(mutex_);
  journal_.clear();
}

void Controller::SetListener(std::function<void(const Event&)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace zel
