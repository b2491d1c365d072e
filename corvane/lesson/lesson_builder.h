#pragma once
// Builds a lesson choice by choice, the way the CSV importer groups its lines: a choice joins
// the first step carrying its step number, or starts a new step after the last one. Lookup is
// by a table from step number to subscript, so building is linear in the number of choices.
// Limits: 32768 steps (subscripts 0 to 32767) and 32768 choices per step; one more throws
// AutomationError 6 (Overflow).

#include <vector>

#include "corvane/model/records.h"

namespace corvane {

class LessonBuilder {
 public:
  LessonBuilder();

  void add_choice(Integer step_number, LessonChoice choice);
  EmailLesson take() { return std::move(lesson_); }

 private:
  EmailLesson lesson_;
  std::vector<int32_t> subscript_of_number_;  // indexed by step number + 32768; -1 = none
};

}  // namespace corvane
