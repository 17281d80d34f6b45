// F12's picture files.
#ifndef STANDIN_SDLHOST_SCREENSHOT_H
#define STANDIN_SDLHOST_SCREENSHOT_H

#include <cstdint>
#include <string>
#include <vector>

#include "standin/host.h"

namespace standin {

// The pictures folder of this user (PicturesFolder on the environment and
// user-dirs.dirs), or "." when it is not given or does not exist.
std::string PicturesFolderHere();

// `picture` as 8-bit RGB, rows packed; RGB565 widened as standin/rgb565.h says.
void PictureToRgb8(const Picture& picture, std::vector<uint8_t>* rgb);

// Writes `picture` as PNG to folder/prefix-YYYYMMDD-HHMMSS.png (local time;
// "-2", "-3"... appended when taken) and returns that path; on failure
// returns "" with the reason in *error and leaves no file behind.
std::string SaveScreenshot(const Picture& picture, const std::string& folder, const std::string& prefix,
                           std::string* error);

}  // namespace standin

#endif
