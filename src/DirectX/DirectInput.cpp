#include "DirectInput.h"

const char* const kDirectInputFile = "DirectX/DirectInput.cpp";
const char* const kDirectInputHeaderFile = "DirectX/DirectInput.h";

cDirectInput::cDirectInput(HINSTANCE instance, HWND window, bool withMouse) {
  DirectInput = NULL;
  Keyboard = NULL;
  Mouse = NULL;
  Instance = instance;
  Window = window;
  MouseX = 0;
  MouseY = 0;
  for (int i = 0; i < 4; i++) MouseButton[i] = 0;
  memset(&MouseState, 0, sizeof MouseState);

  Check(DirectInputCreateA(Instance, 0x0700, &DirectInput, NULL), kLineDirectInputCreate,
        kDirectInputFile);
  if (!DirectInput) return;

  Check(DirectInput->CreateDevice(GUID_SysKeyboard, &Keyboard, NULL), kLineCreateKeyboard,
        kDirectInputFile);
  if (Keyboard) {
    Check(Keyboard->SetDataFormat(&c_dfDIKeyboard), kLineKeyboardFormat, kDirectInputFile);
    Check(Keyboard->SetCooperativeLevel(Window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND),
          kLineKeyboardCooperative, kDirectInputFile);
    Check(Keyboard->Acquire(), kLineKeyboardAcquire, kDirectInputFile);
    BYTE state[kKeyboardStateSize];  // the first read is thrown away
    Check(Keyboard->GetDeviceState(sizeof state, state), kLineKeyboardFirstRead,
          kDirectInputFile);
  }

  if (withMouse) {
    Check(DirectInput->CreateDevice(GUID_SysMouse, &Mouse, NULL), kLineCreateMouse,
          kDirectInputFile);
    if (Mouse) {
      Check(Mouse->SetDataFormat(&c_dfDIMouse), kLineMouseFormat, kDirectInputFile);
      Check(Mouse->SetCooperativeLevel(Window, DISCL_EXCLUSIVE | DISCL_FOREGROUND),
            kLineMouseCooperative, kDirectInputFile);
      Check(Mouse->SetEventNotification(NULL), kLineMouseNotification, kDirectInputFile);
      Check(Mouse->Acquire(), kLineMouseAcquire, kDirectInputFile);
    }
  }
}

cDirectInput::~cDirectInput() {
  if (Keyboard) {
    Keyboard->Unacquire();
    Keyboard->Release();
    Keyboard = NULL;
  }
  if (Mouse) {
    Mouse->Unacquire();
    Mouse->Release();
    Mouse = NULL;
  }
  if (DirectInput) {
    DirectInput->Release();
    DirectInput = NULL;
  }
}
