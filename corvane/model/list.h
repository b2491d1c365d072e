#pragma once
// List<T>: the one-dimensional array of the object model. It has its own lower bound and is
// either unsized (never dimensioned) or sized, possibly with no elements; the two are distinct
// in memory, in files and in equality. Elements are addressed by subscript (lower bound first).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

namespace corvane {

template <class T>
class List {
 public:
  List() = default;  // unsized

  static List unsized() { return List(); }
  static List sized(int32_t lower_bound, std::vector<T> items = {}) {
    List list;
    list.sized_ = true;
    list.lower_ = lower_bound;
    list.items_ = std::move(items);
    return list;
  }
  static List sized(int32_t lower_bound, std::initializer_list<T> items) {
    return sized(lower_bound, std::vector<T>(items));
  }

  bool is_sized() const noexcept { return sized_; }
  bool empty() const noexcept { return items_.empty(); }
  std::size_t size() const noexcept { return items_.size(); }
  int32_t lower_bound() const noexcept { return lower_; }
  // Upper bound as a 64-bit value: lower bound + count - 1 may leave the 32-bit range, and an
  // empty sized list has upper bound lower - 1.
  int64_t upper_bound() const noexcept {
    return static_cast<int64_t>(lower_) + static_cast<int64_t>(items_.size()) - 1;
  }

  // Element by subscript; throws std::out_of_range outside the bounds.
  T& at(int64_t subscript) { return items_.at(offset_of(subscript)); }
  const T& at(int64_t subscript) const { return items_.at(offset_of(subscript)); }

  // Dimensions an unsized list (lower bound given) and appends; a sized list just grows.
  T& push_back(T item, int32_t lower_bound_if_unsized = 0) {
    if (!sized_) {
      sized_ = true;
      lower_ = lower_bound_if_unsized;
    }
    items_.push_back(std::move(item));
    return items_.back();
  }
  void reserve(std::size_t n) { items_.reserve(n); }

  // Back to the never-dimensioned state.
  void reset() {
    sized_ = false;
    lower_ = 0;
    items_.clear();
  }

  std::vector<T>& items() noexcept { return items_; }
  const std::vector<T>& items() const noexcept { return items_; }
  auto begin() noexcept { return items_.begin(); }
  auto end() noexcept { return items_.end(); }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

  friend bool operator==(const List& a, const List& b) {
    if (a.sized_ != b.sized_) return false;
    if (!a.sized_) return true;
    return a.lower_ == b.lower_ && a.items_ == b.items_;
  }

 private:
  std::size_t offset_of(int64_t subscript) const {
    if (subscript < lower_) throw std::out_of_range("List subscript below lower bound");
    return static_cast<std::size_t>(subscript - lower_);
  }

  bool sized_ = false;
  int32_t lower_ = 0;
  std::vector<T> items_;
};

}  // namespace corvane
