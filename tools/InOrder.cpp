#include "InOrder.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

void RunInOrder(std::size_t count, int threads, std::size_t window,
                const std::function<void(int thread, std::size_t i)>& work,
                const std::function<void(std::size_t i)>& deliver) {
  window = std::max<std::size_t>(window, 1);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;       // the next item to begin
  std::size_t delivered = 0;  // items delivered, all before this
  std::vector<bool> done(count, false);
  std::exception_ptr failure;

  const auto run = [&](int thread) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return failure || next >= count || next < delivered + window; });
      if (failure || next >= count) return;
      const std::size_t i = next++;
      lock.unlock();
      try {
        work(thread, i);
      } catch (...) {
        lock.lock();
        if (!failure) failure = std::current_exception();
        changed.notify_all();
        return;
      }
      lock.lock();
      done[i] = true;
      try {
        while (!failure && delivered < count && done[delivered]) deliver(delivered++);
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
      changed.notify_all();
    }
  };

  std::vector<std::thread> others;
  for (int t = 1; t < threads; ++t) others.emplace_back(run, t);
  run(0);
  for (std::thread& other : others) other.join();
  if (failure) std::rethrow_exception(failure);
}
