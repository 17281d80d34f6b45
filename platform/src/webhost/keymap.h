// The web host's key map: a browser's physical key code to the codes the
// DirectInput and window stand-ins take (see win32/keyboard.h).
#ifndef STANDIN_WEBHOST_KEYMAP_H
#define STANDIN_WEBHOST_KEYMAP_H

#include <windows.h>

namespace standin {

struct WebKey {
  BYTE dik = 0;   // DirectInput key code; 0 for none
  WPARAM vk = 0;  // virtual-key code; 0 for none
};

// The codes of KeyboardEvent.code `code` ("KeyA", "Escape", "Numpad7", ...);
// both 0 for a key without them.
WebKey WebKeyFromCode(const char* code);

}  // namespace standin

#endif
