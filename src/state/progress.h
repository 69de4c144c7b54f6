// Progress reporting and cancellation for long computations, so that windows can
// run them off the UI thread with a progress bar.
#pragma once

#include <atomic>
#include <functional>

namespace ps {

struct Progress {
  // Called with (done, total) as the work advances; may be empty.
  std::function<void(long long done, long long total)> report;
  // Set from another thread to ask the computation to stop; may be null.
  const std::atomic<bool>* cancel = nullptr;

  void operator()(long long done, long long total) const {
    if (report) report(done, total);
  }
  bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
};

}  // namespace ps
