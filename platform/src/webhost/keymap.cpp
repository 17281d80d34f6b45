// Browser key codes (KeyboardEvent.code, which names the physical key) to
// DirectInput key codes (PC scan-code set 1, 0x80 added for E0-prefixed keys)
// and virtual-key codes (US layout), as the SDL host's maps give them for the
// same keys.
#include "webhost/keymap.h"

#include <dinput.h>

#include <cstring>

namespace standin {
namespace {

struct WebKeyEntry {
  const char* code;
  WebKey key;
};

constexpr WebKeyEntry kKeys[] = {
    {"KeyA", {DIK_A, 'A'}}, {"KeyB", {DIK_B, 'B'}}, {"KeyC", {DIK_C, 'C'}}, {"KeyD", {DIK_D, 'D'}},
    {"KeyE", {DIK_E, 'E'}}, {"KeyF", {DIK_F, 'F'}}, {"KeyG", {DIK_G, 'G'}}, {"KeyH", {DIK_H, 'H'}},
    {"KeyI", {DIK_I, 'I'}}, {"KeyJ", {DIK_J, 'J'}}, {"KeyK", {DIK_K, 'K'}}, {"KeyL", {DIK_L, 'L'}},
    {"KeyM", {DIK_M, 'M'}}, {"KeyN", {DIK_N, 'N'}}, {"KeyO", {DIK_O, 'O'}}, {"KeyP", {DIK_P, 'P'}},
    {"KeyQ", {DIK_Q, 'Q'}}, {"KeyR", {DIK_R, 'R'}}, {"KeyS", {DIK_S, 'S'}}, {"KeyT", {DIK_T, 'T'}},
    {"KeyU", {DIK_U, 'U'}}, {"KeyV", {DIK_V, 'V'}}, {"KeyW", {DIK_W, 'W'}}, {"KeyX", {DIK_X, 'X'}},
    {"KeyY", {DIK_Y, 'Y'}}, {"KeyZ", {DIK_Z, 'Z'}},
    {"Digit1", {DIK_1, '1'}}, {"Digit2", {DIK_2, '2'}}, {"Digit3", {DIK_3, '3'}}, {"Digit4", {DIK_4, '4'}},
    {"Digit5", {DIK_5, '5'}}, {"Digit6", {DIK_6, '6'}}, {"Digit7", {DIK_7, '7'}}, {"Digit8", {DIK_8, '8'}},
    {"Digit9", {DIK_9, '9'}}, {"Digit0", {DIK_0, '0'}},
    {"Enter", {DIK_RETURN, VK_RETURN}}, {"Escape", {DIK_ESCAPE, VK_ESCAPE}},
    {"Backspace", {DIK_BACK, VK_BACK}}, {"Tab", {DIK_TAB, VK_TAB}}, {"Space", {DIK_SPACE, VK_SPACE}},
    {"Minus", {DIK_MINUS, VK_OEM_MINUS}}, {"Equal", {DIK_EQUALS, VK_OEM_PLUS}},
    {"BracketLeft", {DIK_LBRACKET, VK_OEM_4}}, {"BracketRight", {DIK_RBRACKET, VK_OEM_6}},
    {"Backslash", {DIK_BACKSLASH, VK_OEM_5}}, {"Semicolon", {DIK_SEMICOLON, VK_OEM_1}},
    {"Quote", {DIK_APOSTROPHE, VK_OEM_7}}, {"Backquote", {DIK_GRAVE, VK_OEM_3}},
    {"Comma", {DIK_COMMA, VK_OEM_COMMA}}, {"Period", {DIK_PERIOD, VK_OEM_PERIOD}},
    {"Slash", {DIK_SLASH, VK_OEM_2}}, {"CapsLock", {DIK_CAPITAL, VK_CAPITAL}},
    {"F1", {DIK_F1, VK_F1}}, {"F2", {DIK_F2, VK_F1 + 1}}, {"F3", {DIK_F3, VK_F1 + 2}},
    {"F4", {DIK_F4, VK_F1 + 3}}, {"F5", {DIK_F5, VK_F1 + 4}}, {"F6", {DIK_F6, VK_F1 + 5}},
    {"F7", {DIK_F7, VK_F1 + 6}}, {"F8", {DIK_F8, VK_F1 + 7}}, {"F9", {DIK_F9, VK_F1 + 8}},
    {"F10", {DIK_F10, VK_F1 + 9}}, {"F11", {DIK_F11, VK_F1 + 10}}, {"F12", {DIK_F12, VK_F1 + 11}},
    {"PrintScreen", {DIK_SYSRQ, VK_SNAPSHOT}}, {"ScrollLock", {DIK_SCROLL, VK_SCROLL}},
    {"Pause", {DIK_PAUSE, VK_PAUSE}}, {"Insert", {DIK_INSERT, VK_INSERT}}, {"Home", {DIK_HOME, VK_HOME}},
    {"PageUp", {DIK_PRIOR, VK_PRIOR}}, {"Delete", {DIK_DELETE, VK_DELETE}}, {"End", {DIK_END, VK_END}},
    {"PageDown", {DIK_NEXT, VK_NEXT}}, {"ArrowRight", {DIK_RIGHT, VK_RIGHT}},
    {"ArrowLeft", {DIK_LEFT, VK_LEFT}}, {"ArrowDown", {DIK_DOWN, VK_DOWN}}, {"ArrowUp", {DIK_UP, VK_UP}},
    {"NumLock", {DIK_NUMLOCK, VK_NUMLOCK}}, {"NumpadDivide", {DIK_DIVIDE, VK_DIVIDE}},
    {"NumpadMultiply", {DIK_MULTIPLY, VK_MULTIPLY}}, {"NumpadSubtract", {DIK_SUBTRACT, VK_SUBTRACT}},
    {"NumpadAdd", {DIK_ADD, VK_ADD}}, {"NumpadEnter", {DIK_NUMPADENTER, VK_RETURN}},
    {"Numpad1", {DIK_NUMPAD1, VK_NUMPAD0 + 1}}, {"Numpad2", {DIK_NUMPAD2, VK_NUMPAD0 + 2}},
    {"Numpad3", {DIK_NUMPAD3, VK_NUMPAD0 + 3}}, {"Numpad4", {DIK_NUMPAD4, VK_NUMPAD0 + 4}},
    {"Numpad5", {DIK_NUMPAD5, VK_NUMPAD0 + 5}}, {"Numpad6", {DIK_NUMPAD6, VK_NUMPAD0 + 6}},
    {"Numpad7", {DIK_NUMPAD7, VK_NUMPAD0 + 7}}, {"Numpad8", {DIK_NUMPAD8, VK_NUMPAD0 + 8}},
    {"Numpad9", {DIK_NUMPAD9, VK_NUMPAD0 + 9}}, {"Numpad0", {DIK_NUMPAD0, VK_NUMPAD0}},
    {"NumpadDecimal", {DIK_DECIMAL, VK_DECIMAL}}, {"IntlBackslash", {DIK_OEM_102, VK_OEM_102}},
    {"ContextMenu", {DIK_APPS, VK_APPS}}, {"NumpadEqual", {DIK_NUMPADEQUALS, 0}},
    {"NumpadComma", {DIK_NUMPADCOMMA, 0}},
    {"ControlLeft", {DIK_LCONTROL, VK_CONTROL}}, {"ShiftLeft", {DIK_LSHIFT, VK_SHIFT}},
    {"AltLeft", {DIK_LMENU, VK_MENU}}, {"MetaLeft", {DIK_LWIN, VK_LWIN}},
    {"ControlRight", {DIK_RCONTROL, VK_CONTROL}}, {"ShiftRight", {DIK_RSHIFT, VK_SHIFT}},
    {"AltRight", {DIK_RMENU, VK_MENU}}, {"MetaRight", {DIK_RWIN, VK_RWIN}},
    {"IntlRo", {DIK_ABNT_C1, 0}}, {"KanaMode", {DIK_KANA, 0}}, {"IntlYen", {DIK_YEN, 0}},
    {"Convert", {DIK_CONVERT, 0}}, {"NonConvert", {DIK_NOCONVERT, 0}},
    {"AudioVolumeMute", {DIK_MUTE, 0}}, {"AudioVolumeUp", {DIK_VOLUMEUP, 0}},
    {"AudioVolumeDown", {DIK_VOLUMEDOWN, 0}},
};

}  // namespace

WebKey WebKeyFromCode(const char* code) {
  if (code == nullptr) return WebKey{};
  for (const WebKeyEntry& e : kKeys) {
    if (std::strcmp(e.code, code) == 0) return e.key;
  }
  return WebKey{};
}

}  // namespace standin
