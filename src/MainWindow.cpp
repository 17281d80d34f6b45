#include "MainWindow.h"

#include "3d/Renderer.h"

Renderer* ActiveRenderer = 0;
BYTE RendererReady = 0;
BYTE WindowClosed = 0;

const char* const kWindowClassName = "Sarnivelt";
const char* const kWindowCaption = "Brisolo - Wir kommen!";

HWND CreateMainWindow(HINSTANCE instance, int showCommand, bool fullscreen, int width,
                      int height) {
  WNDCLASSEXA windowClass;
  windowClass.cbSize = sizeof(WNDCLASSEXA);
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = WndProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(0, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(0, IDC_ARROW);
  // The null brush: the background is never erased, the renderer covers it.
  windowClass.hbrBackground = (HBRUSH)GetStockObject(NULL_BRUSH);
  windowClass.lpszMenuName = 0;
  windowClass.lpszClassName = kWindowClassName;
  windowClass.hIconSm = LoadIconA(0, IDI_APPLICATION);
  RegisterClassExA(&windowClass);  // result not tested

  HWND window;
  if (fullscreen) {
    window = CreateWindowExA(WS_EX_TOPMOST, kWindowClassName, kWindowCaption,
                             WS_VISIBLE | WS_MAXIMIZE, 0, 0, 0, 0, 0, 0, instance, 0);
    ShowWindow(window, SW_SHOWMAXIMIZED);
  } else {
    window = CreateWindowExA(0, kWindowClassName, kWindowCaption, WS_OVERLAPPEDWINDOW, 0, 0,
                             width, height, 0, 0, instance, 0);
  }
  ShowWindow(window, showCommand);
  // Whatever the caller's show command, the fullscreen window stays maximised.
  if (fullscreen) ShowWindow(window, SW_SHOWMAXIMIZED);
  UpdateWindow(window);
  return window;
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_MOVE:
    case WM_SIZE:
      if (RendererReady) ActiveRenderer->WindowChanged();
      break;
    case WM_PAINT:
      if (RendererReady) ActiveRenderer->Present();
      break;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case WM_CLOSE:
      // The default handling destroys the window, which sends WM_DESTROY.
      DefWindowProcA(window, message, wParam, lParam);
      PostQuitMessage(0);
      return 0;
    case WM_DESTROY:
      // The frame loop reads no queued message, so the quit message alone would
      // never end it: the flag lets it end like after Escape.
      WindowClosed = 1;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
