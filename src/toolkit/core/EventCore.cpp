#include "toolkit/core/EventCore.h"

#include <algorithm>
#include <stdexcept>

namespace tarnset::tk {

namespace {

// a - b on the wrapping 32-bit millisecond count.
std::int32_t since(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::int32_t later(std::int32_t t, std::int32_t ms) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(t) + static_cast<std::uint32_t>(ms));
}

}  // namespace

class EventCore::Firing {
 public:
  Firing(std::vector<std::uint64_t>& firing, std::uint64_t id) : firing_(firing), id_(id) {
    firing_.push_back(id_);
  }
  ~Firing() { std::erase(firing_, id_); }
  Firing(const Firing&) = delete;
  Firing& operator=(const Firing&) = delete;

 private:
  std::vector<std::uint64_t>& firing_;
  std::uint64_t id_;
};

bool EventCore::isFiring(std::uint64_t id) const {
  return std::find(firing_.begin(), firing_.end(), id) != firing_.end();
}

// ---------------------------------------------------------------- timers

TimerCore::TimerCore(EventCore& core) : core_(core), id_(core.add(this)), due_(core.nowMs()) {}

TimerCore::~TimerCore() {
  core_.remove(this, id_);
}

void TimerCore::setInterval(std::int32_t ms) {
  if (ms < 0) throw std::out_of_range("Timer interval below 0");
  interval_ = ms;
  due_ = later(core_.nowMs(), ms);  // a new interval starts a new count
  if (running()) core_.wake();
}

void TimerCore::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (!on) return;
  due_ = later(core_.nowMs(), interval_);
  if (running()) core_.wake();
}

std::int32_t TimerCore::remaining(std::int32_t now) const {
  const std::int32_t left = since(due_, now);
  // More than an interval ahead: the clock went back; count from here.
  if (left > interval_) return interval_;
  return std::max<std::int32_t>(0, left);
}

void TimerCore::fire(std::int32_t now) {
  // The next due time first: the tick may change or destroy the timer.
  due_ = later(due_, interval_);
  if (since(due_, now) <= 0) due_ = later(now, interval_);
  const std::function<void()> tick = onTick;
  core_.toolkit().guarded([&] {
    if (tick) tick();
  });
}

// ---------------------------------------------------------------- watches

WatchCore::WatchCore(EventCore& core, Waitable what, std::function<void()> onReady)
    : core_(core), id_(core.add(this)), what_(what), onReady_(std::move(onReady)) {}

WatchCore::~WatchCore() {
  core_.remove(this, id_);
}

void WatchCore::fire() {
  // A copy: the handler may destroy the watch.
  const std::function<void()> ready = onReady_;
  core_.toolkit().guarded([&] {
    if (ready) ready();
  });
}

// ---------------------------------------------------------------- the core

EventCore::EventCore(Toolkit& toolkit, const TickSource& clock) : toolkit_(toolkit), clock_(clock) {
  firing_.reserve(8);  // a handler or two at a time: no allocation as they start and end
}

EventCore::~EventCore() = default;

std::unique_ptr<Timer> EventCore::createTimer() {
  return std::make_unique<TimerCore>(*this);
}

std::unique_ptr<Watch> EventCore::watch(Waitable what, std::function<void()> onReady) {
  return std::make_unique<WatchCore>(*this, what, std::move(onReady));
}

void EventCore::post(std::function<void()> f) {
  posted_.push_back(std::move(f));
  wake();
}

void EventCore::wake() {
  if (wake_) wake_();
}

std::uint64_t EventCore::add(TimerCore* t) {
  const std::uint64_t id = nextId_++;
  timers_[id] = t;
  return id;
}

void EventCore::remove(const TimerCore* t, std::uint64_t id) {
  const auto it = timers_.find(id);
  if (it != timers_.end() && it->second == t) timers_.erase(it);
}

std::uint64_t EventCore::add(WatchCore* w) {
  const std::uint64_t id = nextId_++;
  watches_[id] = w;
  wake();
  return id;
}

void EventCore::remove(const WatchCore* w, std::uint64_t id) {
  const auto it = watches_.find(id);
  if (it != watches_.end() && it->second == w) watches_.erase(it);
  dropped_.erase(id);
}

int EventCore::runDueTimers() {
  if (held()) return 0;
  const std::int32_t now = nowMs();
  std::vector<std::uint64_t> due;
  for (const auto& [id, t] : timers_) {
    if (t->running() && t->remaining(now) == 0) due.push_back(id);
  }
  int fired = 0;
  for (const std::uint64_t id : due) {
    // An earlier tick may have stopped or destroyed it, or opened a modal box.
    const auto it = timers_.find(id);
    if (held() || quitRequested_) break;
    if (it == timers_.end() || !it->second->running() || it->second->remaining(now) > 0 || isFiring(id))
      continue;
    const Firing firing(firing_, id);
    it->second->fire(now);
    ++fired;
  }
  return fired;
}

int EventCore::runPosted() {
  if (held() || toolkit_.inNotification()) return 0;
  int ran = 0;
  // Only what was posted before: calls that post again run in the next round, after the
  // input, timers and watches that are waiting.
  for (std::size_t n = posted_.size(); n > 0 && !posted_.empty() && !held() && !quitRequested_; --n) {
    std::function<void()> f = std::move(posted_.front());
    posted_.pop_front();
    toolkit_.guarded(f);
    ++ran;
  }
  return ran;
}

bool EventCore::fireWatch(std::uint64_t id) {
  if (held() || isFiring(id)) return false;
  const auto it = watches_.find(id);
  if (it == watches_.end() || dropped_.contains(id)) return false;
  const Firing firing(firing_, id);
  it->second->fire();
  return true;
}

void EventCore::dropWatch(std::uint64_t id) {
  if (watches_.contains(id)) dropped_.insert(id);
}

std::vector<std::pair<std::uint64_t, Waitable>> EventCore::waitables() const {
  std::vector<std::pair<std::uint64_t, Waitable>> out;
  for (const auto& [id, w] : watches_) {
    if (!dropped_.contains(id)) out.emplace_back(id, w->waitable());
  }
  return out;
}

std::int32_t EventCore::msToNextTimer() const {
  std::int32_t next = -1;
  const std::int32_t now = nowMs();
  for (const auto& [id, t] : timers_) {
    if (!t->running()) continue;
    const std::int32_t r = t->remaining(now);
    if (next < 0 || r < next) next = r;
  }
  return next;
}

std::int32_t EventCore::msToNextWork() const {
  if (held()) return -1;
  if (!posted_.empty()) return 0;
  return msToNextTimer();
}

EventCore::ModalScope::ModalScope(EventCore& core) : core_(core) {
  if (core_.modalDepth_++ == 0 && core_.modalChanged_) core_.modalChanged_(true);
}

EventCore::ModalScope::~ModalScope() {
  if (--core_.modalDepth_ > 0) return;
  if (core_.modalChanged_) core_.modalChanged_(false);
  core_.wake();
}

void EventCore::devicesChanged() {
  if (devicesPending_) return;
  devicesPending_ = true;
  post([this] {
    devicesPending_ = false;
    const std::function<void()> f = toolkit_.onDevicesChanged;
    if (f) f();
  });
}

void EventCore::quit(int exitCode) {
  quitRequested_ = true;
  exitCode_ = exitCode;
  wake();
}

bool EventCore::takeQuit(int& exitCode) {
  if (!quitRequested_) return false;
  quitRequested_ = false;
  exitCode = exitCode_;
  return true;
}

}  // namespace tarnset::tk
