// dinput.h compiles on its own and keeps the SDK's layouts and values.
#include <dinput.h>

static_assert(sizeof(DIMOUSESTATE) == 16, "DIMOUSESTATE is 16 bytes");
static_assert(DIK_ESCAPE == 1 && DIK_NUMPADENTER == 0x9C && DIK_UP == 0xC8, "DIK codes");
static_assert(DIERR_INPUTLOST == static_cast<HRESULT>(0x8007001E) &&
                  DIERR_NOTACQUIRED == static_cast<HRESULT>(0x8007000C),
              "DirectInput error codes");
static_assert((DISCL_NONEXCLUSIVE | DISCL_FOREGROUND) == 6 &&
                  (DISCL_EXCLUSIVE | DISCL_FOREGROUND) == 5,
              "cooperative levels");
