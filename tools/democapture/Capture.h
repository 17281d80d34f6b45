// democapture: renders the demo offline, at a fixed frame rate, with the
// demo's own objects (Scene, ScenePlayer, D3DRenderer and the device layer on
// the headless platform), to PNG frames or, through ffmpeg, to an MP4 video
// with the soundtrack.
//
// Time: capture frame k shows the music at sample frame floor(k * rate / fps);
// its demo time is that position in bytes of decoded 16-bit PCM turned into
// demo time exactly as the demo's frame loop does (DemoTimeFromPosition with
// the stream length as a float).
#ifndef DEMOCAPTURE_CAPTURE_H
#define DEMOCAPTURE_CAPTURE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Renderer;

namespace democapture {

// Exit codes.
enum ExitCode {
  kExitOk = 0,
  kExitFailure = 1,      // missing or refused input, unwritable output, ffmpeg failed
  kExitUsage = 2,        // bad command line
  kExitInterrupted = 130 // SIGINT or SIGTERM: nothing half-written is left behind
};

struct Options {
  int fps = 25;                      // capture frames per second of music, 1..240
  int width = 800, height = 600;     // output pixels; the demo draws 800 x 600, scaled if different
  uint32_t from = 0;                 // first demo time captured (inclusive)
  uint32_t to = 10000;               // demo times from here on are not captured
  std::string pngDir;                // --png: folder of frameNNNNN.png (NNNNN = capture frame k)
  std::string videoFile;             // --video: MP4 file
  std::string scene = "scene.2vef";
  std::string music = "Sound.mp3";
  std::string log;                   // --log: the demo's debug log goes here; empty: nowhere
  std::optional<uint32_t> trace;     // --trace: print what the frame at this demo time sends
  bool help = false;
  bool version = false;
};

extern const char kUsage[];

// Reads the command line (argv[0] excluded). Returns false with a message that
// names the bad argument.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// The music as the frame loop sees it.
struct MusicClock {
  uint32_t lengthBytes = 0;  // BASS_StreamGetLength: bytes of decoded 16-bit PCM
  int rate = 0;              // sample frames per second
  int channels = 0;          // 1 or 2
  uint64_t Frames() const { return lengthBytes / uint32_t(2 * channels); }
  // Byte position of capture frame k at `fps`: floor(k * rate / fps) sample frames.
  uint32_t Position(uint64_t k, int fps) const;
  // Demo time at capture frame k, as the frame loop computes it from Position.
  uint32_t TimeOf(uint64_t k, int fps) const;
  // Capture frames k whose time lies in [from, to) and whose position is
  // inside the music: first and one past the last.
  void Range(uint32_t from, uint32_t to, int fps, uint64_t* first, uint64_t* end) const;
};

// Opens `path` through the audio stand-in (no sound output) and libmpg123.
// Returns false with a message naming the file.
bool OpenMusic(const std::string& path, MusicClock* clock, std::string* error);

// An RGB picture, 3 bytes per pixel, rows first to last.
struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// RGB565 to 8-bit channels with bit replication: 5-bit c -> c << 3 | c >> 2,
// 6-bit c -> c << 2 | c >> 4 (so 0x1F and 0x3F become 255).
void Rgb565ToRgb(const uint16_t* pixels, int width, int height, int pitchBytes, Image* out);

// Bilinear resampling with pixel centres aligned; same size copies.
Image Scale(const Image& in, int width, int height);

// Writes `image` as an 8-bit RGB PNG (deflate `level` 0..12, 0 stores) to
// `path` through a temporary file and a rename. False with a message naming
// the file on failure.
bool WritePng(const std::string& path, const Image& image, int level, std::string* error);

// Reads an 8-bit RGB or RGBA PNG (tests and reference checks).
bool ReadPng(const std::string& path, Image* image, std::string* error);

// Where "ffmpeg" is on PATH, or "" when it is not.
std::string FindProgram(const std::string& name);

// The whole run for parsed options: capture or trace. Returns an ExitCode.
int Run(const Options& options);

}  // namespace democapture

#endif
