// Splitting independent work over the machine's two cores: the way the
// converter shares its work between threads (besides the inflating of a
// gzip-compressed export, which has a thread of its own: io/input_file.hpp).
#pragma once

#include <cstddef>
#include <exception>
#include <thread>

namespace wk {

// Below this much work a second thread costs more than it saves. Work counts
// like items of a fraction of a microsecond each: grid nodes completed or
// interpolated, points on a Maxwell circle, values formatted, export lines
// read. Starting a thread and warming a second core's cache take some ten
// microseconds; 2^16 items take milliseconds.
inline constexpr std::size_t kTwoThreadsMinWork = std::size_t{1} << 16;

namespace io_detail {

template <class Job>
void on_one_thread(const Job& job) {
  job(0);
  job(1);
}

}  // namespace io_detail

// Runs job(0) here and job(1) on a second thread, or job(0) then job(1) here
// when no second thread is to be had. The two parts must not depend on each
// other's progress. Whichever part fails, its exception is thrown here once
// both parts have ended (job(0)'s when both fail), so that it reaches the
// run's one error handler and no thread outlives the call.
template <class Job>
void on_two_threads(const Job& job) {
  std::exception_ptr failure;
  {
    std::jthread other;  // joined when this block ends, however it ends
    try {
      other = std::jthread([&] {
        try {
          job(1);
        } catch (...) {
          failure = std::current_exception();
        }
      });
    } catch (...) {
      // No thread (or no memory for one) to be had.
    }
    if (!other.joinable()) {
      io_detail::on_one_thread(job);
      return;
    }
    job(0);
  }
  if (failure) std::rethrow_exception(failure);
}

// The same for `work` items in all (see kTwoThreadsMinWork): below the
// threshold both parts run here, job(0) first.
template <class Job>
void on_two_threads(std::size_t work, const Job& job) {
  if (work < kTwoThreadsMinWork) {
    io_detail::on_one_thread(job);
  } else {
    on_two_threads(job);
  }
}

}  // namespace wk
