#pragma once
// The event loop's own work, written once for every adapter: the program's timers, its
// watches and its posted calls, and the rules they follow (see Toolkit::post and
// Toolkit::createTimer). An adapter's loop waits for what its system offers (window
// messages, descriptors, handles) and calls in here for the rest:
//
//   runDueTimers();               // the timers that are due
//   fireWatch(id) for each ready watch
//   runPosted();                  // one round of posted calls
//   wait at most msToNextWork()
//
// While a modal box is open (a ModalScope lives) nothing runs: timers, watches and posted
// calls wait until it has closed. setWake() tells the adapter when work may be due sooner
// than its wait was planned for.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "base/TickSource.h"
#include "base/Types.h"
#include "toolkit/Toolkit.h"

namespace tarnset::tk {

class EventCore;

// A timer whose schedule the core keeps: enabling it or giving it an interval starts a
// new count from now; each tick is due one interval after the previous one was due (one
// interval after the tick, when that came late), as Qt's precise timers count.
class TimerCore final : public Timer {
 public:
  explicit TimerCore(EventCore& core);
  ~TimerCore() override;
  TimerCore(const TimerCore&) = delete;
  TimerCore& operator=(const TimerCore&) = delete;

  void setInterval(std::int32_t ms) override;
  std::int32_t interval() const override { return interval_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }

  // Enabled with an interval above 0.
  bool running() const { return enabled_ && interval_ > 0; }
  // Milliseconds from now until due; 0 when due. Only meaningful while running.
  std::int32_t remaining(std::int32_t now) const;
  // Counts the next interval, then runs onTick.
  void fire(std::int32_t now);

 private:
  EventCore& core_;
  std::uint64_t id_;
  std::int32_t interval_ = 0;
  bool enabled_ = false;
  std::int32_t due_ = 0;
};

// A watch whose waitable the adapter's loop waits for. An adapter that needs more (a
// socket notifier, say) derives from it.
class WatchCore : public Watch {
 public:
  WatchCore(EventCore& core, Waitable what, std::function<void()> onReady);
  ~WatchCore() override;
  WatchCore(const WatchCore&) = delete;
  WatchCore& operator=(const WatchCore&) = delete;

  std::uint64_t id() const { return id_; }
  Waitable waitable() const { return what_; }
  // Runs onReady (the handler may destroy the watch).
  void fire();

 protected:
  EventCore& core_;

 private:
  std::uint64_t id_;
  Waitable what_;
  std::function<void()> onReady_;
};

class EventCore {
 public:
  // toolkit: the guard that every timer tick, watch and posted call runs through.
  EventCore(Toolkit& toolkit, const TickSource& clock);
  ~EventCore();
  EventCore(const EventCore&) = delete;
  EventCore& operator=(const EventCore&) = delete;

  // Called when work may be due sooner than the loop's wait was planned for: a call
  // posted, a timer started, a modal box closed, quit. The adapter wakes its wait (or
  // schedules its next round).
  void setWake(std::function<void()> wake) { wake_ = std::move(wake); }
  // Called when the first modal box opens (true) and when the last one has closed (false).
  void setModalChanged(std::function<void(bool)> f) { modalChanged_ = std::move(f); }

  std::unique_ptr<Timer> createTimer();
  std::unique_ptr<Watch> watch(Waitable what, std::function<void()> onReady);
  void post(std::function<void()> f);

  // --- The loop ---
  // Fires every running timer that is due, at most once each, in creation order;
  // returns how many fired. A timer whose tick is running (the loop runs inside it, in a
  // menu, say) is not fired again inside itself.
  int runDueTimers();
  // One round of posted calls: those posted before the round began, oldest first.
  // Returns how many ran. Nothing runs while a notification is running.
  int runPosted();
  // Runs the watch of that id when it still exists and is not running already; true when it ran.
  bool fireWatch(std::uint64_t id);
  // A watch whose waitable the system calls invalid: it is not waited for from then on.
  void dropWatch(std::uint64_t id);
  // The watches to wait for (those not dropped), in creation order: id and waitable.
  std::vector<std::pair<std::uint64_t, Waitable>> waitables() const;
  // Milliseconds the loop may wait for input and watches: 0 when posted calls or a timer
  // are due now, -1 when only input or a watch can bring work. While held, -1.
  std::int32_t msToNextWork() const;
  // Milliseconds until the next timer is due (0 when one is due); -1 when none runs.
  std::int32_t msToNextTimer() const;
  // True when posted calls wait.
  bool hasPosted() const { return !posted_.empty(); }
  // True while nothing may run: a modal box is open.
  bool held() const { return modalDepth_ > 0; }
  std::int32_t nowMs() const { return clock_.nowMs(); }

  // --- Modal boxes ---
  // Lives while a modal box or dialog is open.
  class ModalScope {
   public:
    explicit ModalScope(EventCore& core);
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

   private:
    EventCore& core_;
  };
  bool modalActive() const { return modalDepth_ > 0; }

  // Serial devices may have come or gone: the toolkit's onDevicesChanged runs as a posted
  // call (notices that come before it has run make one).
  void devicesChanged();

  // --- Ending the loop ---
  void quit(int exitCode);
  bool quitRequested() const { return quitRequested_; }
  // Takes the request: true (and its code) when quit() was called since it was last taken.
  bool takeQuit(int& exitCode);

  // --- Used by timers and watches ---
  Toolkit& toolkit() { return toolkit_; }
  std::uint64_t add(TimerCore* t);
  void remove(const TimerCore* t, std::uint64_t id);
  std::uint64_t add(WatchCore* w);
  void remove(const WatchCore* w, std::uint64_t id);
  void wake();

 private:
  // Marks a timer or watch as running its handler for as long as it runs.
  class Firing;
  bool isFiring(std::uint64_t id) const;

  Toolkit& toolkit_;
  const TickSource& clock_;
  std::function<void()> wake_;
  std::function<void(bool)> modalChanged_;
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, TimerCore*> timers_;
  std::map<std::uint64_t, WatchCore*> watches_;
  std::set<std::uint64_t> dropped_;
  std::vector<std::uint64_t> firing_;
  std::deque<std::function<void()>> posted_;
  int modalDepth_ = 0;
  bool devicesPending_ = false;
  bool quitRequested_ = false;
  int exitCode_ = 0;
};

}  // namespace tarnset::tk
