// An interactive check of the window, presentation and input stand-ins.
//
// Opens the fullscreen window the way the demo does and, through DirectDraw,
// sets the 800 x 600 x 16 mode and flips a two-buffer chain with a test
// picture every frame: a white frame one pixel in
// from the edge, a colour ramp, and a circle that stays round only when the
// aspect ratio is kept. The mouse moves a cursor cross; holding a button fills
// the circle. Escape ends it with exit code 0; "hostcheck . 120" ends it after
// 120 frames instead (exit code 3), so it can run unattended; "still" keeps
// the picture the same in every frame.
//
// Space marks a point in time: it prints the frame number, and which keys the
// keyboard reported down and which messages the window procedure received
// since the previous mark, so that a script can check what reached the
// program in between (the host's own keys must not).
//
//   xvfb-run -s "-screen 0 1280x1024x24" ./hostcheck &
//   xdotool key Escape
#include <ddraw.h>
#include <dinput.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>


namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

uint16_t Rgb565(int r, int g, int b) {
  return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

// Draws into a locked RGB565 surface `pitch` bytes per row.
void DrawPicture(uint8_t* bits, LONG pitch, int frame, int cursorX, int cursorY, bool fill) {
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint16_t c = Rgb565(x * 255 / kWidth, y * 255 / kHeight, (frame * 4) & 255);
      const bool border = x == 1 || y == 1 || x == kWidth - 2 || y == kHeight - 2;
      const int dx = x - kWidth / 2, dy = y - kHeight / 2;
      const int r2 = dx * dx + dy * dy;
      if (border) c = 0xFFFF;
      if (r2 <= 200 * 200 && (fill || r2 >= 196 * 196)) c = 0xFFFF;
      if ((x == cursorX && y > cursorY - 10 && y < cursorY + 10) ||
          (y == cursorY && x > cursorX - 10 && x < cursorX + 10))
        c = Rgb565(255, 0, 0);
      reinterpret_cast<uint16_t*>(bits + static_cast<ptrdiff_t>(y) * pitch)[x] = c;
    }
  }
}

std::set<UINT> g_messages;  // received since the last mark

LRESULT CALLBACK CheckProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_messages.insert(message);
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
  const int frameLimit = commandLine != nullptr ? std::atoi(commandLine) : 0;
  const bool still = commandLine != nullptr && std::strstr(commandLine, "still") != nullptr;

  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = CheckProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  windowClass.lpszClassName = "HostCheck";
  RegisterClassExA(&windowClass);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "HostCheck", "Brisolo - Wir kommen! (host check \xE4\xF6\xFC)",
                                WS_VISIBLE | WS_MAXIMIZE, 0, 0, 0, 0, nullptr, nullptr, instance,
                                nullptr);
  ShowWindow(window, SW_SHOWMAXIMIZED);
  ShowWindow(window, showCommand);
  ShowWindow(window, SW_SHOWMAXIMIZED);
  UpdateWindow(window);

  LPDIRECTDRAW7 draw = nullptr;
  if (DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&draw), IID_IDirectDraw7, nullptr) !=
      DD_OK)
    return 1;
  draw->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
  draw->SetDisplayMode(kWidth, kHeight, 16, 0, 0);
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  desc.dwBackBufferCount = 1;
  LPDIRECTDRAWSURFACE7 front = nullptr, back = nullptr;
  if (draw->CreateSurface(&desc, &front, nullptr) != DD_OK) return 1;
  DDSCAPS2 caps{};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  if (front->GetAttachedSurface(&caps, &back) != DD_OK) return 1;

  LPDIRECTINPUTA input = nullptr;
  LPDIRECTINPUTDEVICEA keyboard = nullptr, mouse = nullptr;
  if (DirectInputCreateA(instance, 0x0700, &input, nullptr) != DI_OK) return 1;
  input->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr);
  keyboard->SetDataFormat(&c_dfDIKeyboard);
  keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND);
  HRESULT keyboardAcquire = keyboard->Acquire();
  input->CreateDevice(GUID_SysMouse, &mouse, nullptr);
  mouse->SetDataFormat(&c_dfDIMouse);
  mouse->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_FOREGROUND);
  mouse->Acquire();
  RECT client{};
  GetClientRect(window, &client);
  std::fprintf(stderr, "hostcheck: client %dx%d, keyboard acquire 0x%08X\n",
               static_cast<int>(client.right), static_cast<int>(client.bottom),
               static_cast<unsigned>(keyboardAcquire));

  int cursorX = kWidth / 2, cursorY = kHeight / 2;
  int code = 3;
  bool spaceWasDown = false;
  std::set<int> keysSeen;
  for (int frame = 0; frameLimit == 0 || frame < frameLimit; ++frame) {
    BYTE keys[256] = {};
    HRESULT keyState = keyboard->GetDeviceState(sizeof keys, keys);
    if (keyState == DIERR_INPUTLOST || keyState == DIERR_NOTACQUIRED) keyboard->Acquire();
    for (int k = 0; k < 256; ++k)
      if ((keys[k] & 0x80) && k != DIK_SPACE) keysSeen.insert(k);
    const bool spaceDown = (keys[DIK_SPACE] & 0x80) != 0;
    if (spaceDown && !spaceWasDown) {
      std::string since;
      for (int k : keysSeen) since += " key:" + std::to_string(k);
      for (UINT m : g_messages) since += " message:" + std::to_string(m);
      std::fprintf(stderr, "hostcheck: mark at frame %d; since the last mark:%s\n", frame,
                   since.empty() ? " nothing" : since.c_str());
      keysSeen.clear();
      g_messages.clear();
    }
    spaceWasDown = spaceDown;
    if (keys[DIK_ESCAPE] & 0x80) {
      code = 0;
      break;
    }
    DIMOUSESTATE m{};
    if (mouse->GetDeviceState(sizeof m, &m) != DI_OK) mouse->Acquire();
    cursorX = std::min(std::max(cursorX + static_cast<int>(m.lX), 0), kWidth - 1);
    cursorY = std::min(std::max(cursorY + static_cast<int>(m.lY), 0), kHeight - 1);
    DDSURFACEDESC2 locked{};
    locked.dwSize = sizeof locked;
    if (back->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr) == DD_OK) {
      DrawPicture(static_cast<uint8_t*>(locked.lpSurface), locked.lPitch, still ? 0 : frame, cursorX, cursorY,
                  (m.rgbButtons[0] | m.rgbButtons[1]) & 0x80);
      back->Unlock(nullptr);
    }
    front->Flip(nullptr, DDFLIP_WAIT);
    if (!IsWindow(window)) {  // closed by the desktop
      code = 0;
      break;
    }
  }
  mouse->Release();
  keyboard->Release();
  input->Release();
  back->Release();
  front->Release();
  draw->RestoreDisplayMode();
  draw->Release();
  std::fprintf(stderr, "hostcheck: exit %d\n", code);
  return code;
}
