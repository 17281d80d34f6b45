// The desktop under the window and input stand-ins: the SDL host that shows
// windows and presented pictures, and simulated desktop events for tests.
//
// Not part of the Windows API: only the stand-in, main(), tests and tools
// include this.
#ifndef STANDIN_DESKTOP_H
#define STANDIN_DESKTOP_H

#include <string>

#include "../win32/types.h"

namespace standin {

// How the host shows a window. The program never learns of it: a window it
// made fullscreen keeps the virtual screen as its client area when shown in a
// desktop window, and a window it made overlapped keeps its own size when
// shown on the whole screen.
enum class PresentationForm {
  AsAsked,     // fullscreen for a topmost maximised window, else a window
  Window,      // every window in a desktop window
  Fullscreen,  // every window on the whole screen
};

// How a picture fills the space it is shown in (the rest is black).
enum class Scaling {
  Fit,      // as large as fits with its aspect kept (FitWithAspect)
  Integer,  // the largest whole multiple that fits; Fit when even 1x does not
  Stretch,  // the whole space, aspect not kept
};

struct SdlHostOptions {
  PresentationForm form = PresentationForm::AsAsked;
  Scaling scaling = Scaling::Fit;
  // Keys the host keeps for itself, never passed to the program's input:
  // Alt+Enter switches the foreground window between fullscreen and a
  // window; F12 saves the last presented picture as a PNG in the pictures
  // folder (see PicturesFolder) and names the file on standard error.
  bool hostKeys = true;
};

// Installs the SDL host: CurrentHost() shows presented pictures in SDL windows
// and the windows of the window stand-in get SDL windows when shown. SDL's
// video is started on first use; without a display everything still works
// with no window (presentation paced at 60 Hz). UninstallSdlHost closes the
// SDL windows and goes back to the headless host.
void InstallSdlHost(const SdlHostOptions& options = SdlHostOptions());
void UninstallSdlHost();

// Whether the SDL host shows `window` on the whole screen now; false when it
// shows it in a desktop window, or not at all.
bool PresentedFullscreen(HWND window);

// Where a picture of srcWidth x srcHeight lands in an output of dstWidth x
// dstHeight, scaled as large as fits with its aspect ratio kept and centred
// (black bars fill the rest). The scaled side is rounded to the nearest pixel,
// halves up; the offset is half the remaining space, rounded down.
struct FitRect {
  int x, y, width, height;  // pixels of the output
};
FitRect FitWithAspect(int srcWidth, int srcHeight, int dstWidth, int dstHeight);

// Where a picture lands with the given scaling. Integer: the factor is
// min(dstWidth / srcWidth, dstHeight / srcHeight) rounded down, the picture
// centred with the offset rounded down; Stretch: the whole output.
FitRect PlacePicture(Scaling scaling, int srcWidth, int srcHeight, int dstWidth, int dstHeight);

// The folder F12 saves pictures in, as xdg-user-dir finds it: the
// XDG_PICTURES_DIR environment variable, else the XDG_PICTURES_DIR line of
// `userDirs` (the text of ~/.config/user-dirs.dirs: a quoted absolute path or
// one starting with $HOME/). Empty when neither gives one, or when the
// folder would be $HOME itself (the file's way of saying "none"): then the
// working directory is used.
std::string PicturesFolder(const char* pictureDirEnv, const char* home, const std::string& userDirs);

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
