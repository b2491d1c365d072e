#include "sorter/ui/window_fit.h"

#include <gtest/gtest.h>

#include <limits>

namespace sorter::ui {
namespace {

TEST(WindowFit, ClientAreaBecomesThePictureWhateverTheDesignedSize) {
  // Designed client 472 x 376 in a frame of 8 x 31.
  const auto fitted = fitted_outer_size({480, 407}, {472, 376}, {469, 371});
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->width, 477);
  EXPECT_EQ(fitted->height, 402);
}

TEST(WindowFit, AFittedWindowStaysAsItIs) {
  const auto fitted = fitted_outer_size({477, 402}, {469, 371}, {469, 371});
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->width, 477);
  EXPECT_EQ(fitted->height, 402);
}

TEST(WindowFit, FailedMeasurementsCountAsZero) {
  // No picture: the window shrinks to its frame.
  const auto fitted = fitted_outer_size({480, 407}, {472, 376}, {0, 0});
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->width, 8);
  EXPECT_EQ(fitted->height, 31);
}

TEST(WindowFit, SumsBeyondThirtyTwoBitsAreSkipped) {
  constexpr long kMax = std::numeric_limits<int32_t>::max();
  EXPECT_FALSE(fitted_outer_size({100, 100}, {50, 50}, {kMax, 10}));
  EXPECT_FALSE(fitted_outer_size({100, 100}, {50, 50}, {10, kMax - 49}));
  EXPECT_TRUE(fitted_outer_size({100, 100}, {50, 50}, {kMax - 50, 10}));
}

}  // namespace
}  // namespace sorter::ui
