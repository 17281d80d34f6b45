// Demo content for the driver tests: a scene from the content generator and
// three seconds of music, written into a scratch folder.
#ifndef DEVICE_DEMO_CONTENT_H
#define DEVICE_DEMO_CONTENT_H

#include <math.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "SceneGen.h"
#include "SceneWriter.h"
#include "Soundtrack.h"

namespace devtest {

const int kMusicSeconds = 3;

// The generator's scene for its shortest piece.
inline const std::vector<uint8_t>& SceneBytes() {
  static std::vector<uint8_t> bytes = [] {
    vef::SceneWriter writer;
    demogen::Timeline timeline;
    timeline.bars = 2;
    demogen::BuildScene(timeline, &writer);
    return writer.bytes();
  }();
  return bytes;
}

// kMusicSeconds of a 440 Hz tone, 44.1 kHz stereo, as MP3.
inline const std::vector<uint8_t>& MusicBytes() {
  static std::vector<uint8_t> bytes = [] {
    std::vector<int16_t> pcm(2 * 44100 * kMusicSeconds);
    for (size_t i = 0; i < pcm.size() / 2; i++)
      pcm[2 * i] = pcm[2 * i + 1] = (int16_t)(8000 * sin(2 * M_PI * 440.0 * i / 44100.0));
    std::vector<uint8_t> mp3;
    std::string error;
    if (!demogen::EncodeMp3(pcm, &mp3, &error)) mp3.clear();
    return mp3;
  }();
  return bytes;
}

// A new folder under the temporary directory holding "scene.2vef" and/or
// "Sound.mp3"; empty on failure.
inline std::string MakeContentFolder(bool scene, bool music) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "demo-device-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return "";
  std::string error;
  if (scene && !vef::WriteFileAtomically(pattern + "/scene.2vef", SceneBytes(), &error))
    return "";
  if (music && (MusicBytes().empty() ||
                !vef::WriteFileAtomically(pattern + "/Sound.mp3", MusicBytes(), &error)))
    return "";
  return pattern;
}

inline void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

}  // namespace devtest

#endif
