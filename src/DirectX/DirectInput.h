// Keyboard and mouse through DirectInput: the system keyboard and, on request,
// the system mouse, acquired once and polled once per frame.
//
// Every tested call follows the failure convention of cDXObject with its line
// below and kDirectInputFile (kDirectInputHeaderFile for ReadMouse, defined
// inline here). A step that needs a device a failed creation left null is
// skipped.
#ifndef DIRECTINPUT_H
#define DIRECTINPUT_H

#include <windows.h>
#include <dinput.h>

#include "cDXObject.h"

extern const char* const kDirectInputFile;        // "DirectX/DirectInput.cpp"
extern const char* const kDirectInputHeaderFile;  // "DirectX/DirectInput.h"

// Call-site lines of cDirectInput.
enum {
  kLineDirectInputCreate = 30,
  kLineCreateKeyboard = 31,
  kLineKeyboardFormat = 32,
  kLineKeyboardCooperative = 33,
  kLineKeyboardAcquire = 35,
  kLineKeyboardFirstRead = 36,
  kLineCreateMouse = 41,
  kLineMouseFormat = 42,
  kLineMouseCooperative = 43,
  kLineMouseNotification = 44,
  kLineMouseAcquire = 45,
  kLineReadMouse = 48,  // header
};

const int kKeyboardStateSize = 256;  // bytes, one per DirectInput key code

class cDirectInput final : public cDXObject {
 public:
  LONG MouseX;                  // relative X movement at the last read
  LONG MouseY;                  // relative Y movement at the last read
  BYTE MouseButton[4];          // 1 while button i (0 left, 1 right, 2 middle) was held
  LPDIRECTINPUTA DirectInput;   // owned
  LPDIRECTINPUTDEVICEA Keyboard;  // owned
  LPDIRECTINPUTDEVICEA Mouse;     // owned; null without the mouse
  HWND Window;
  HINSTANCE Instance;
  DIMOUSESTATE MouseState;      // the last mouse read; zero before the first

  // Creates DirectInput and the keyboard (and the mouse when withMouse), sets
  // their formats and cooperative levels and acquires them.
  cDirectInput(HINSTANCE instance, HWND window, bool withMouse);
  // Unacquires and releases what was created.
  ~cDirectInput();

  // Fills the 256 key bytes (bit 7: down). Its result is not tested; a failed
  // read leaves the buffer as it was.
  void ReadKeyboard(BYTE* state) {
    if (Keyboard) Keyboard->GetDeviceState(kKeyboardStateSize, state);
  }

  // Reads the mouse into MouseState and copies it into MouseX, MouseY and
  // MouseButton, also after a failed read (then the previous state is copied).
  void ReadMouse() {
    if (!Mouse) return;
    Check(Mouse->GetDeviceState(sizeof(DIMOUSESTATE), &MouseState), kLineReadMouse,
          kDirectInputHeaderFile);
    MouseX = MouseState.lX;
    MouseY = MouseState.lY;
    for (int i = 0; i < 4; i++) MouseButton[i] = (MouseState.rgbButtons[i] & 0x80) ? 1 : 0;
  }
};

#endif
