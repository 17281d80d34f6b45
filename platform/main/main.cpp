// The process entry for programs written with a WinMain: installs the SDL host
// (window, input and presentation), calls WinMain as Windows would, then stops
// the audio output and closes the display before the process ends.
#include <windows.h>

#include <string>

#include "standin/audio.h"
#include "standin/desktop.h"

namespace {
// The module base of a Windows executable; only passed around as a handle.
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
}  // namespace

int main(int argc, char** argv) {
  // WinMain's command line: the arguments after the program name, as typed.
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  standin::InstallSdlHost();
  int code = WinMain(kInstance, nullptr, &commandLine[0], SW_SHOWNORMAL);
  // The audio thread must stop before static objects go away.
  standin::AudioShutdown();
  standin::UninstallSdlHost();
  return code;
}
