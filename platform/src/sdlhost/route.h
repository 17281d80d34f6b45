// Desktop input as Windows routes it: key and button state for DirectInput,
// key messages to the queue of the foreground window.
#ifndef STANDIN_SDLHOST_ROUTE_H
#define STANDIN_SDLHOST_ROUTE_H

namespace standin {

void RouteKey(int scancode, bool down, bool repeat);
void RouteMouseButton(int sdlButton, bool down);

}  // namespace standin

#endif
