#pragma once
// The engine as the Windows program drives it: settings, drop folder, log and sorting round
// under the program folder.

#include <string>

#include "sorter/ui/engine_port.h"

namespace sorter::ui {

class EngineAdapter final : public EnginePort {
 public:
  EngineAdapter();
  bool running_flag_set() override;
  void clear_running_flag() override;
  bool developer_account() override;
  void bind_drop_folder() override;
  void start_log() override;
  void stop_log() override;
  void run_tick() override;
  void release_round() override;

 private:
  std::wstring program_folder_;
  bool drop_folder_bound_ = false;
};

}  // namespace sorter::ui
