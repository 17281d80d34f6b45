// The demo's one window, its window procedure, and the globals through which
// the procedure reaches the renderer.
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <windows.h>

class Renderer;

// The one renderer (its Renderer part); null until WinMain creates it, never reset.
extern Renderer* ActiveRenderer;
// 1 while the window procedure may call ActiveRenderer: from the start of the
// music until the frame loop has ended. 0 otherwise.
extern BYTE RendererReady;
// Set to 1 by the window procedure when the window is destroyed (a close
// request from the desktop); the frame loop then ends as after Escape.
extern BYTE WindowClosed;

extern const char* const kWindowClassName;  // "Sarnivelt"
extern const char* const kWindowCaption;    // "Brisolo - Wir kommen!"

// Registers the window class and creates the window: fullscreen, a topmost
// maximised window (width and height unused); otherwise an overlapped window of
// exactly width x height outer size at (0, 0). Returns the window handle.
HWND CreateMainWindow(HINSTANCE instance, int showCommand, bool fullscreen, int width,
                      int height);

// Move and size: WindowChanged on the renderer while RendererReady; paint:
// Present likewise; Escape key: posts WM_CLOSE; close and destroy: quit code 0.
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
