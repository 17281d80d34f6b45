// A key as Windows routes it, whatever host it comes from: DirectInput's key
// state under its DIK code, and WM_KEYDOWN/WM_KEYUP (WM_SYS* while Alt is
// held) to the queue of the foreground window; Alt+F4 asks that window to
// close. Each host maps its own key codes to the DIK and virtual-key codes.
#ifndef STANDIN_WIN32_KEYBOARD_H
#define STANDIN_WIN32_KEYBOARD_H

#include <windows.h>

namespace standin {

// `dik`: PC scan-code set 1 (0x80 for E0-prefixed keys), 0 for none; `vk`: the
// virtual-key code, 0 for none (no message). A repeat changes no key state.
void DeliverKey(BYTE dik, WPARAM vk, bool down, bool repeat);

// Whether a left or right Alt key is held, as the delivered keys tell.
bool AltHeld();

}  // namespace standin

#endif
