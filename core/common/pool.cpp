#include "core/common/pool.h"

#include <sched.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace korva {

ThreadPool::ThreadPool(int threads) {
  const int workers = std::max(threads, 1) - 1;
  workers_.reserve(static_cast<std::size_t>(workers));
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

bool ThreadPool::HasIdleWorker() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_ > 0 && queue_.empty();
}

void ThreadPool::Push(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++task.group->pending_;
    queue_.push_back(std::move(task));
  }
  changed_.notify_all();
}

bool ThreadPool::RunOne(std::unique_lock<std::mutex>& lock, const TaskGroup* group) {
  const auto newest = std::find_if(queue_.rbegin(), queue_.rend(), [group](const Task& task) {
    return group == nullptr || task.group == group;
  });
  if (newest == queue_.rend()) return false;
  Task task = std::move(*newest);
  queue_.erase(std::next(newest).base());
  lock.unlock();
  task.group->Execute(task.work);
  lock.lock();
  --task.group->pending_;
  changed_.notify_all();
  return true;
}

void ThreadPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (RunOne(lock, nullptr)) continue;
    if (stopping_) return;
    ++idle_;
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --idle_;
  }
}

TaskGroup::~TaskGroup() {
  try {
    Wait();
  } catch (...) {
    // The owner did not ask for the result; the tasks are done.
  }
}

void TaskGroup::Execute(std::function<void()>& work) {
  if (Failed()) return;
  try {
    work();
  } catch (...) {
    std::lock_guard<std::mutex> lock(error_mutex_);
    if (!error_) error_ = std::current_exception();
    failed_.store(true, std::memory_order_relaxed);
  }
}

void TaskGroup::Run(std::function<void()> work) {
  if (pool_ == nullptr || pool_->workers_.empty()) {
    Execute(work);
    return;
  }
  pool_->Push({this, std::move(work)});
}

namespace {
// How many foreign tasks the calling thread is inside: each one may wait for
// its own group and take another, so a long batch could otherwise pile runs
// onto one stack.
thread_local int foreign_depth = 0;
constexpr int kMaxForeignDepth = 4;
}  // namespace

void TaskGroup::Wait() {
  if (pool_ != nullptr) {
    std::unique_lock<std::mutex> lock(pool_->mutex_);
    while (pending_ > 0) {
      if (pool_->RunOne(lock, this)) continue;
      const bool can_help = foreign_depth < kMaxForeignDepth;
      if (can_help) {
        ++foreign_depth;
        const bool ran = pool_->RunOne(lock, nullptr);
        --foreign_depth;
        if (ran) continue;
      }
      pool_->idle_ += can_help;
      pool_->changed_.wait(lock);
      pool_->idle_ -= can_help;
    }
  }
  std::exception_ptr error;
  {
    std::lock_guard<std::mutex> lock(error_mutex_);
    error = std::exchange(error_, nullptr);
  }
  failed_.store(false, std::memory_order_relaxed);
  if (error) std::rethrow_exception(error);
}

int CoreCount() {
  // The cores this process may run on: a batch scheduler or taskset gives a
  // process fewer than the machine has.
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    return std::max(1, CPU_COUNT(&allowed));
  }
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void ParallelFor(ThreadPool* pool, int count, const std::function<void(int)>& body) {
  TaskGroup group(pool);
  for (int i = 0; i < count; ++i) group.Run([&body, i] { body(i); });
  group.Wait();
}

}  // namespace korva
