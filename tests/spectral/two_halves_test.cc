#include "spectral/numerics/two_halves.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>

namespace quorvane::spectral {
namespace {

// An exception escaping a thread's function would end the program; each
// must reach the caller instead, after the other half has finished.
TEST(TwoHalves, AnExceptionInEitherHalfReachesTheCallerAfterBothFinish) {
  std::atomic<bool> there_finished = false;
  EXPECT_THROW(run_two_halves([] { throw std::bad_alloc(); },
                              [&] {
                                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                there_finished = true;
                              }),
               std::bad_alloc);
  EXPECT_TRUE(there_finished);

  bool here_finished = false;
  EXPECT_THROW(run_two_halves([&] { here_finished = true; },
                              [] { throw std::runtime_error("second half"); }),
               std::runtime_error);
  EXPECT_TRUE(here_finished);

  // When both fail, the calling thread's exception is the one reported.
  EXPECT_THROW(run_two_halves([] { throw std::bad_alloc(); },
                              [] { throw std::runtime_error("second half"); }),
               std::bad_alloc);
}

}  // namespace
}  // namespace quorvane::spectral
