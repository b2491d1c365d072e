#pragma once
// The tray program's message loop. Besides the thread's messages it waits for the drop
// folder's watch while delivery is instant, so that a file arriving in MailBank starts a round
// without waiting for the sorting timer. Modal loops (message boxes, the tray menu) run only
// messages: arrivals meanwhile wait for the loop, or for the timer.

#include <windows.h>

#include <functional>

namespace sorter::ui {

// Runs until WM_QUIT. Before each wait arrivals() gives the handle to wait for (nullptr: none);
// when it is signalled, on_arrival() runs, and then the messages pending.
int run_message_loop(const std::function<HANDLE()>& arrivals,
                     const std::function<void()>& on_arrival);

}  // namespace sorter::ui
