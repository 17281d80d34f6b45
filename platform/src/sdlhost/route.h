// Desktop input as Windows routes it: key and button state for DirectInput,
// key messages to the queue of the foreground window.
#ifndef STANDIN_SDLHOST_ROUTE_H
#define STANDIN_SDLHOST_ROUTE_H

namespace standin {

void RouteKey(int scancode, bool down, bool repeat);

// A key the host may keep for itself: called first for every key routed; when
// it returns true the key goes nowhere else. Null: every key is routed.
using HostKeyHandler = bool (*)(int scancode, bool down, bool repeat);
void SetHostKeyHandler(HostKeyHandler handler);

// Whether a left or right Alt key is held, as the routed keys tell.
bool AltHeld();
void RouteMouseButton(int sdlButton, bool down);

}  // namespace standin

#endif
