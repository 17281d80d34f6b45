// The input the DirectInput devices report, fed by the host's routing of keys
// and buttons (or by tests): one key state for the system keyboard, one button
// state and motion for the system mouse. Runs on the thread that owns the
// windows.
#ifndef STANDIN_DINPUT_INPUT_STATE_H
#define STANDIN_DINPUT_INPUT_STATE_H

#include <windows.h>

namespace standin {

void InputKey(BYTE dik, bool down);
void InputMouseMotion(int dx, int dy);      // mickeys, right and down positive
void InputMouseWheel(int delta);            // 120 per notch, away from the user positive
void InputMouseButton(int index, bool down);  // 0 left, 1 right, 2 middle, 3 first extra

}  // namespace standin

#endif
