// SDL input as Windows routes it: an SDL key becomes its DIK and virtual-key
// codes for DeliverKey, an SDL button the DirectInput mouse's button.
#include <SDL_mouse.h>
#include <SDL_scancode.h>
#include <windows.h>

#include "dinput/input_state.h"
#include "sdlhost/route.h"
#include "standin/desktop.h"
#include "win32/desktop.h"
#include "win32/keyboard.h"

namespace standin {
namespace {

HostKeyHandler g_hostKeys = nullptr;

// Virtual-key code of an SDL scan code, US layout; 0 when there is none.
WPARAM VirtualKey(int sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return VK_F1 + (sc - SDL_SCANCODE_F1);
  if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return VK_F1 + 12 + (sc - SDL_SCANCODE_F13);
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return VK_NUMPAD0 + 1 + (sc - SDL_SCANCODE_KP_1);
  switch (sc) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_RETURN: case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_MINUS: return VK_OEM_MINUS;
    case SDL_SCANCODE_EQUALS: return VK_OEM_PLUS;
    case SDL_SCANCODE_LEFTBRACKET: return VK_OEM_4;
    case SDL_SCANCODE_RIGHTBRACKET: return VK_OEM_6;
    case SDL_SCANCODE_BACKSLASH: case SDL_SCANCODE_NONUSHASH: return VK_OEM_5;
    case SDL_SCANCODE_SEMICOLON: return VK_OEM_1;
    case SDL_SCANCODE_APOSTROPHE: return VK_OEM_7;
    case SDL_SCANCODE_GRAVE: return VK_OEM_3;
    case SDL_SCANCODE_COMMA: return VK_OEM_COMMA;
    case SDL_SCANCODE_PERIOD: return VK_OEM_PERIOD;
    case SDL_SCANCODE_SLASH: return VK_OEM_2;
    case SDL_SCANCODE_NONUSBACKSLASH: return VK_OEM_102;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_PRINTSCREEN: return VK_SNAPSHOT;
    case SDL_SCANCODE_SCROLLLOCK: return VK_SCROLL;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_INSERT: return VK_INSERT;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_DELETE: return VK_DELETE;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_NUMLOCKCLEAR: return VK_NUMLOCK;
    case SDL_SCANCODE_KP_DIVIDE: return VK_DIVIDE;
    case SDL_SCANCODE_KP_MULTIPLY: return VK_MULTIPLY;
    case SDL_SCANCODE_KP_MINUS: return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PLUS: return VK_ADD;
    case SDL_SCANCODE_KP_PERIOD: return VK_DECIMAL;
    case SDL_SCANCODE_APPLICATION: return VK_APPS;
    case SDL_SCANCODE_LCTRL: case SDL_SCANCODE_RCTRL: return VK_CONTROL;
    case SDL_SCANCODE_LSHIFT: case SDL_SCANCODE_RSHIFT: return VK_SHIFT;
    case SDL_SCANCODE_LALT: case SDL_SCANCODE_RALT: return VK_MENU;
    case SDL_SCANCODE_LGUI: return VK_LWIN;
    case SDL_SCANCODE_RGUI: return VK_RWIN;
    default: return 0;
  }
}

}  // namespace

void SetHostKeyHandler(HostKeyHandler handler) { g_hostKeys = handler; }

void RouteKey(int scancode, bool down, bool repeat) {
  if (g_hostKeys != nullptr && g_hostKeys(scancode, down, repeat)) return;
  DeliverKey(DikFromScancode(scancode), VirtualKey(scancode), down, repeat);
}

void RouteMouseButton(int sdlButton, bool down) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT: InputMouseButton(0, down); break;
    case SDL_BUTTON_RIGHT: InputMouseButton(1, down); break;
    case SDL_BUTTON_MIDDLE: InputMouseButton(2, down); break;
    case SDL_BUTTON_X1: InputMouseButton(3, down); break;
    default: break;  // DIMOUSESTATE has four buttons
  }
}

void SimulateKey(int scancode, bool down) { RouteKey(scancode, down, false); }
void SimulateMouseMotion(int dx, int dy) { InputMouseMotion(dx, dy); }
void SimulateMouseWheel(int notches) { InputMouseWheel(notches * 120); }
void SimulateMouseButton(int button, bool down) { RouteMouseButton(button, down); }
void SimulateFocusChange(HWND window, bool gained) { DesktopFocusChanged(window, gained); }
void SimulateCloseRequest(HWND window) { DesktopCloseRequested(window); }

}  // namespace standin
