// The demo's entry: start-up, the frame loop on the music clock, tear-down.
#include <windows.h>

#include "Demo.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  DemoRun run(instance, showCommand);
  if (DemoStartUp(run)) DemoLoop(run);
  return DemoTearDown(run);
}
