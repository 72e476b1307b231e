// Splitting independent work over the machine's two cores.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

namespace wk {

// Runs job(0) here and job(1) on a second thread, or both here when no
// second thread is to be had. A failure of job(1) (an exception, such as no
// memory for an array) is thrown here once both have ended, so that it
// reaches the run's one error handler.
template <class Job>
void on_two_threads(const Job& job) {
  std::exception_ptr failure;
  {
    std::jthread other;
    try {
      other = std::jthread([&] {
        try {
          job(1);
        } catch (...) {
          failure = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      job(0);
      job(1);
      return;
    }
    job(0);
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace wk
