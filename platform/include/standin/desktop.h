// The desktop under the window and input stand-ins: the SDL host that shows
// windows and presented pictures, and simulated desktop events for tests.
//
// Not part of the Windows API: only the stand-in, main(), tests and tools
// include this.
#ifndef STANDIN_DESKTOP_H
#define STANDIN_DESKTOP_H

#include "../win32/types.h"

namespace standin {

// Installs the SDL host: CurrentHost() shows presented pictures in SDL windows
// and the windows of the window stand-in get SDL windows when shown. SDL's
// video is started on first use; without a display everything still works
// with no window (presentation paced at 60 Hz). UninstallSdlHost closes the
// SDL windows and goes back to the headless host.
void InstallSdlHost();
void UninstallSdlHost();

// Where a picture of srcWidth x srcHeight lands in an output of dstWidth x
// dstHeight, scaled as large as fits with its aspect ratio kept and centred
// (black bars fill the rest). The scaled side is rounded to the nearest pixel,
// halves up; the offset is half the remaining space, rounded down.
struct FitRect {
  int x, y, width, height;  // pixels of the output
};
FitRect FitWithAspect(int srcWidth, int srcHeight, int dstWidth, int dstHeight);

// Simulated desktop input, handled exactly as the same SDL event would be.
// `scancode` is an SDL_Scancode value; `button` an SDL button number
// (1 left, 2 middle, 3 right, 4 first extra).
void SimulateKey(int scancode, bool down);
void SimulateMouseMotion(int dx, int dy);
void SimulateMouseWheel(int notches);
void SimulateMouseButton(int button, bool down);
// The window gains or loses the foreground (focus), as when the user switches.
void SimulateFocusChange(HWND window, bool gained);
// The desktop asks the window to close (close button, Alt+F4).
void SimulateCloseRequest(HWND window);

}  // namespace standin

#endif
