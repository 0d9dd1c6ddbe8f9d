// The Windows main loop with the two Win32 calls its timers depend on given by the
// caller, so a test can make one of them fail. The program uses CreateMainLoop.
#pragma once

#include <windows.h>

#include <memory>

#include "service/main_loop.h"

namespace zendrel {

struct Win32TimerCalls {
  UINT_PTR(WINAPI* set_timer)(HWND, UINT_PTR, UINT, TIMERPROC) = SetTimer;
  BOOL(WINAPI* post_message)(HWND, UINT, WPARAM, LPARAM) = PostMessageW;
};

std::unique_ptr<MainLoop> CreateWindowsMainLoop(const Win32TimerCalls& calls);

}  // namespace zendrel
