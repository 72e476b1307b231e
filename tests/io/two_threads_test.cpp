// The two-thread helper: which thread runs which part, and failures that
// reach the caller only once both parts have stopped.
#include "io/two_threads.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace wk {
namespace {

TEST(TwoThreads, SmallWorkStaysOnTheCallingThreadInPartOrder) {
  const struct {
    std::size_t work;
    bool second_thread;
  } cases[] = {{0, false}, {kTwoThreadsMinWork - 1, false}, {kTwoThreadsMinWork, true}};
  for (const auto& c : cases) {
    std::thread::id ran_on[2];
    int order[2] = {-1, -1};
    std::atomic<int> done{0};
    on_two_threads(c.work, [&](int part) {
      ran_on[part] = std::this_thread::get_id();
      order[done++] = part;
    });
    EXPECT_EQ(ran_on[0], std::this_thread::get_id()) << c.work;
    EXPECT_EQ(ran_on[1] != std::this_thread::get_id(), c.second_thread) << c.work;
    if (!c.second_thread) {
      EXPECT_TRUE(order[0] == 0 && order[1] == 1) << c.work;
    }
  }
}

// Either part fails while the other is still busy: the caller gets the
// failure, and only after the busy part has finished.
TEST(TwoThreads, AFailureReachesTheCallerAfterBothPartsStopped) {
  for (std::size_t work : {std::size_t{1}, kTwoThreadsMinWork}) {
    for (int failing : {0, 1}) {
      std::atomic<bool> other_finished{false};
      try {
        on_two_threads(work, [&](int part) {
          if (part == failing) throw std::runtime_error("part " + std::to_string(part));
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          other_finished = true;
        });
        ADD_FAILURE() << "no exception, work " << work << ", failing part " << failing;
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "part " + std::to_string(failing));
        // On one thread a failing part 0 ends the call before part 1 starts.
        const bool other_ran = work >= kTwoThreadsMinWork || failing == 1;
        EXPECT_EQ(other_finished.load(), other_ran) << "work " << work << ", failing part " << failing;
      }
    }
  }
}

}  // namespace
}  // namespace wk
