#include "corvane/model/list.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(List, UnsizedDiffersFromSizedEmpty) {
  const List<int> never;
  const auto empty = List<int>::sized(0);
  EXPECT_FALSE(never.is_sized());
  EXPECT_TRUE(empty.is_sized());
  EXPECT_NE(never, empty);
  EXPECT_EQ(empty.upper_bound(), -1);
}

TEST(List, EqualityComparesLowerBoundAndElements) {
  EXPECT_EQ(List<int>::sized(1, {5, 6}), List<int>::sized(1, {5, 6}));
  EXPECT_NE(List<int>::sized(0, {5, 6}), List<int>::sized(1, {5, 6}));
  EXPECT_NE(List<int>::sized(1, {5, 6}), List<int>::sized(1, {5, 7}));
  EXPECT_NE(List<int>::sized(7), List<int>::sized(8));
}

TEST(List, AddressesElementsBySubscript) {
  auto list = List<int>::sized(1, {10, 20, 30});
  EXPECT_EQ(list.lower_bound(), 1);
  EXPECT_EQ(list.upper_bound(), 3);
  EXPECT_EQ(list.at(1), 10);
  EXPECT_EQ(list.at(3), 30);
  EXPECT_THROW(list.at(0), std::out_of_range);
  EXPECT_THROW(list.at(4), std::out_of_range);
}

TEST(List, PushBackDimensionsAnUnsizedList) {
  List<int> list;
  list.push_back(4);
  EXPECT_TRUE(list.is_sized());
  EXPECT_EQ(list.lower_bound(), 0);
  auto from_five = List<int>::sized(5);
  from_five.push_back(1);
  EXPECT_EQ(from_five.upper_bound(), 5);
}

TEST(List, UpperBoundDoesNotWrapAtTheTopOfTheRange) {
  const auto list = List<int>::sized(INT32_MAX, {1, 2});
  EXPECT_EQ(list.upper_bound(), int64_t{INT32_MAX} + 1);
}

}  // namespace
}  // namespace corvane
