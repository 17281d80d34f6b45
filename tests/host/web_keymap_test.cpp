// The web host's key map gives the same DirectInput codes as the SDL host's
// for the same physical keys, including the keys whose codes carry the E0
// prefix and the keypad, which a map written by name easily confuses.
#include <SDL_scancode.h>
#include <gtest/gtest.h>

#include "sdlhost/route.h"
#include "webhost/keymap.h"

namespace {

TEST(WebKeyMap, AgreesWithTheSdlHostKeyForKey) {
  const struct {
    const char* code;
    SDL_Scancode scancode;
  } keys[] = {
      {"KeyA", SDL_SCANCODE_A},        {"KeyQ", SDL_SCANCODE_Q},           {"KeyZ", SDL_SCANCODE_Z},
      {"Digit1", SDL_SCANCODE_1},      {"Digit0", SDL_SCANCODE_0},         {"Escape", SDL_SCANCODE_ESCAPE},
      {"Enter", SDL_SCANCODE_RETURN},  {"NumpadEnter", SDL_SCANCODE_KP_ENTER}, {"Space", SDL_SCANCODE_SPACE},
      {"F1", SDL_SCANCODE_F1},         {"F11", SDL_SCANCODE_F11},          {"F12", SDL_SCANCODE_F12},
      {"Numpad7", SDL_SCANCODE_KP_7},  {"Numpad0", SDL_SCANCODE_KP_0},     {"NumpadDecimal", SDL_SCANCODE_KP_PERIOD},
      {"NumpadDivide", SDL_SCANCODE_KP_DIVIDE}, {"Home", SDL_SCANCODE_HOME}, {"ArrowUp", SDL_SCANCODE_UP},
      {"ArrowLeft", SDL_SCANCODE_LEFT}, {"PageDown", SDL_SCANCODE_PAGEDOWN}, {"Delete", SDL_SCANCODE_DELETE},
      {"ControlLeft", SDL_SCANCODE_LCTRL}, {"ControlRight", SDL_SCANCODE_RCTRL}, {"AltLeft", SDL_SCANCODE_LALT},
      {"AltRight", SDL_SCANCODE_RALT}, {"ShiftRight", SDL_SCANCODE_RSHIFT}, {"MetaLeft", SDL_SCANCODE_LGUI},
      {"Backquote", SDL_SCANCODE_GRAVE}, {"IntlBackslash", SDL_SCANCODE_NONUSBACKSLASH},
      {"PrintScreen", SDL_SCANCODE_PRINTSCREEN}, {"Pause", SDL_SCANCODE_PAUSE},
  };
  for (const auto& k : keys) {
    const standin::WebKey key = standin::WebKeyFromCode(k.code);
    EXPECT_NE(key.dik, 0) << k.code;
    EXPECT_EQ(key.dik, standin::DikFromScancode(k.scancode)) << k.code;
    EXPECT_NE(key.vk, 0u) << k.code;
  }
  // Keys the browser names but DirectInput has no code for, and junk.
  for (const char* code : {"Fn", "", "keya", "KeyA "}) {
    EXPECT_EQ(standin::WebKeyFromCode(code).dik, 0) << code;
    EXPECT_EQ(standin::WebKeyFromCode(code).vk, 0u) << code;
  }
  EXPECT_EQ(standin::WebKeyFromCode(nullptr).dik, 0);
}

}  // namespace
