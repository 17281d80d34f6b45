// The window manager's side of the window stand-in: how a desktop back end (the
// SDL host) and the input stand-in meet the Win32 windows.
//
// Everything here runs on the thread that owns the windows. The back end is
// optional: without one, windows exist only as state and messages, which is
// all tests need.
#ifndef STANDIN_WIN32_DESKTOP_H
#define STANDIN_WIN32_DESKTOP_H

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

// A snapshot of one window, for the back end.
struct WindowView {
  HWND handle = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  bool visible = false;
  bool maximized = false;
  bool minimized = false;
  bool fullscreenForm = false;  // topmost and maximised: shows the virtual screen
  std::string captionUtf8;
  RECT outer{};                 // restored outer rectangle, screen pixels
  SIZE client{};                // client size as the program sees it, pixels
  POINT clientOrigin{};         // client top-left, screen pixels
};

class DesktopBackend {
 public:
  virtual ~DesktopBackend() = default;
  // The window was created, shown, hidden, maximised, restored or resized.
  virtual void WindowChanged(HWND window) = 0;
  virtual void WindowDestroyed(HWND window) = 0;
  // Turns pending desktop events into window messages and input.
  virtual void PumpEvents() = 0;
  // An exclusive foreground mouse is (or is no longer) acquired for `window`.
  virtual void SetMouseCaptured(HWND window, bool captured) = 0;
  // The desktop's size in pixels; false when unknown.
  virtual bool DesktopSize(int* width, int* height) = 0;
};

// Installs the back end (not owned); null removes it.
void SetDesktopBackend(DesktopBackend* backend);

// Runs the back end's PumpEvents unless a pump is already running further up
// the stack (a message handler that presents or reads input).
void PumpDesktopEvents();

// Tells the back end that an exclusive foreground mouse was (un)acquired.
void SetMouseCaptured(HWND window, bool captured);

bool GetWindowView(HWND window, WindowView* view);
std::vector<HWND> ListWindows();

// Desktop events, from the back end or simulated by tests. Each sends the
// messages Windows sends for it.
void DesktopMoved(HWND window, int clientX, int clientY);       // WM_MOVE
void DesktopResized(HWND window, int clientWidth, int clientHeight);  // WM_SIZE
void DesktopExposed(HWND window);                                // WM_PAINT
void DesktopCloseRequested(HWND window);                         // WM_CLOSE
void DesktopFocusChanged(HWND window, bool gained);              // activation

// Appends a hardware input message (key, mouse button) to the queue of the
// thread that owns `window`. False when the window is gone or the queue full.
bool PostInputMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Called by the window stand-in whenever the foreground window changes; the
// input stand-in unacquires foreground devices of other windows.
void InputForegroundChanged(HWND foreground);

}  // namespace standin

#endif
