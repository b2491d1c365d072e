#include "sorter/ui/message_loop.h"

namespace sorter::ui {

int run_message_loop(const std::function<HANDLE()>& arrivals,
                     const std::function<void()>& on_arrival) {
  for (;;) {
    HANDLE handle = arrivals ? arrivals() : nullptr;
    const DWORD count = handle ? 1 : 0;
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(count, &handle, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (count == 1 && woke == WAIT_OBJECT_0) on_arrival();
    if (woke == WAIT_FAILED) WaitMessage();  // a handle it cannot wait for: messages only
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return 0;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace sorter::ui
