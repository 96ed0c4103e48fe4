// A small pool of threads for the independent parts of an analysis: files,
// listeners, cochlear places. Work comes in groups; a thread that waits for
// its group runs the group's queued tasks itself, so groups nest (a file's
// run starting its places) without two threads waiting on each other. When
// its own group has nothing queued, the waiting thread takes other groups'
// work rather than sit idle: with one file on two threads, the thread that
// queued the file must help the run that the other thread picked up. Idle
// threads take the newest task first, which finishes the innermost group in
// hand before starting more outer work.
//
// The tasks are coarse (a place, a listener, a file: milliseconds to
// seconds), so one queue under one lock serves; a stealing scheduler would
// buy nothing at this grain.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace korva {

class TaskGroup;

class ThreadPool {
 public:
  // `threads` threads share the work, counting the one that waits for a
  // group: threads - 1 workers are started (none for 1).
  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // True when a thread (a worker, or one waiting for its group) is waiting
  // for work and no task is queued: a task queued now would start at once.
  bool HasIdleWorker() const;

 private:
  friend class TaskGroup;
  struct Task {
    TaskGroup* group;
    std::function<void()> work;
  };

  void Push(Task task);
  // Takes the newest queued task of `group` (of any group when null) and
  // runs it; false when there is none. `lock` is held on entry and exit.
  bool RunOne(std::unique_lock<std::mutex>& lock, const TaskGroup* group);
  void Work();

  mutable std::mutex mutex_;
  // A task was queued or finished: wakes idle workers and waiting groups.
  std::condition_variable changed_;
  std::deque<Task> queue_;
  std::vector<std::thread> workers_;
  int idle_ = 0;
  bool stopping_ = false;
};

class TaskGroup {
 public:
  // Without a pool, Run runs each task at once on the calling thread.
  explicit TaskGroup(ThreadPool* pool) : pool_(pool) {}
  // Waits for the group's tasks (and drops their error: call Wait first).
  ~TaskGroup();
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  // Queues `work`. Once a task of the group has thrown, the group's tasks
  // that have not started are skipped.
  void Run(std::function<void()> work);

  // Runs the group's queued tasks, then other groups' while its own run
  // elsewhere, and rethrows the first exception a task threw.
  void Wait();

  // A task has thrown: long tasks of the group may give up early.
  bool Failed() const { return failed_.load(std::memory_order_relaxed); }

 private:
  friend class ThreadPool;
  void Execute(std::function<void()>& work);

  ThreadPool* pool_;
  int pending_ = 0;  // queued or running; guarded by the pool's lock
  std::atomic<bool> failed_{false};
  std::mutex error_mutex_;
  std::exception_ptr error_;
};

// The cores this process may use (its CPU affinity; at least 1): the pools'
// default size.
int CoreCount();

// body(i) for i = 0 .. count - 1, spread over the pool (in order on the
// calling thread without one); rethrows the first exception.
void ParallelFor(ThreadPool* pool, int count, const std::function<void(int)>& body);

}  // namespace korva
