// SDL input as Windows routes it: SDL keys through DeliverKey, SDL mouse
// buttons to the DirectInput mouse.
#ifndef STANDIN_SDLHOST_ROUTE_H
#define STANDIN_SDLHOST_ROUTE_H

#include <windows.h>

#include "win32/keyboard.h"

namespace standin {

void RouteKey(int scancode, bool down, bool repeat);

// A key the host may keep for itself: called first for every key routed; when
// it returns true the key goes nowhere else. Null: every key is routed.
using HostKeyHandler = bool (*)(int scancode, bool down, bool repeat);
void SetHostKeyHandler(HostKeyHandler handler);

// DIK code of an SDL scan code (SDL_Scancode value); 0 for keys that have none.
BYTE DikFromScancode(int scancode);

void RouteMouseButton(int sdlButton, bool down);

}  // namespace standin

#endif
