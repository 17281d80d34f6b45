#include "win32/keyboard.h"

#include <dinput.h>

#include "dinput/input_state.h"
#include "win32/desktop.h"

namespace standin {
namespace {
bool g_leftAlt = false, g_rightAlt = false;
}  // namespace

bool AltHeld() { return g_leftAlt || g_rightAlt; }

void DeliverKey(BYTE dik, WPARAM vk, bool down, bool repeat) {
  if (!repeat) InputKey(dik, down);
  if (dik == DIK_LMENU) g_leftAlt = down;
  if (dik == DIK_RMENU) g_rightAlt = down;
  const bool alt = AltHeld();

  HWND target = GetForegroundWindow();
  if (target == nullptr) return;
  if (vk != 0) {
    // lParam: repeat count 1, scan code, extended-key bit, context (Alt) bit,
    // previous state, transition.
    LPARAM lParam = 1 | (static_cast<LPARAM>(dik & 0x7F) << 16);
    if (dik & 0x80) lParam |= 1 << 24;
    if (alt) lParam |= 1 << 29;
    if (!down || repeat) lParam |= 1 << 30;
    if (!down) lParam |= static_cast<LPARAM>(1u << 31);
    const bool system = alt || vk == VK_F1 + 9;  // F10 is a system key too
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    PostInputMessage(target, message, vk, lParam);
  }
  // Windows closes the window on Alt+F4 whether or not the program reads its
  // queue, so this does not wait for a dispatched WM_SYSKEYDOWN.
  if (down && !repeat && alt && dik == DIK_F4) DesktopCloseRequested(target);
}

}  // namespace standin
