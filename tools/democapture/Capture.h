// democapture: renders the demo offline, at a fixed frame rate, with the
// demo's own objects (Scene, ScenePlayer, D3DRenderer and the device layer on
// the headless platform), to PNG frames or, through ffmpeg, to an MP4 video
// with the soundtrack. The demo can be drawn for a larger frame (--render) and
// supersampled (--ssaa): the demo keeps its 800 x 600 mode and the stand-in's
// forced resolution (standin/resolution.h) draws it larger, as demo --render
// does live.
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

#include "standin/host.h"
#include "standin/resolution.h"

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
  int width = 800, height = 600;     // output pixels (--size; without it the --render size), bilinear
                                     // scaling of the frame when they differ
  int renderWidth = 800, renderHeight = 600;  // --render: the frame the demo is drawn for, pixels
                                     // 320..8192 x 240..8192; its 4:3 picture fills it or sits
                                     // centred between black bars
  int ssaa = 1;                      // --ssaa: samples per picture pixel along each axis, 1..4
  int writers = -1;                  // --writers: threads turning drawn frames into files beside the
                                     // drawing, 0..16; 0 = in turn on the drawing thread; -1 = one
                                     // per core, at most 4 (a video always has one)
  uint32_t from = 0;                 // first demo time captured (inclusive)
  uint32_t to = 10000;               // demo times from here on are not captured
  std::optional<double> fromSeconds; // --from S.s: first music time captured, seconds (inclusive);
                                     // replaces `from`
  std::optional<double> toSeconds;   // --to S.s: music times from here on are not captured; replaces `to`
  bool overwrite = false;            // --overwrite: frames already in pngDir are removed first
  bool text = true;                  // --no-text: false, the demo's own text is not drawn
  std::string pngDir;                // --png: folder of frameNNNNN.png (NNNNN = capture frame k)
  std::string videoFile;             // --video: MP4 file
  std::string scene = "scene.2vef";
  std::string music = "Sound.mp3";
  std::string log;                   // --log: the demo's debug log goes here; empty: nowhere
  std::optional<uint32_t> trace;     // --trace: print what the frame at this demo time sends
  std::optional<uint32_t> at;        // --at: the one frame captured, at this demo time
  bool help = false;
  bool version = false;
};

extern const char kUsage[];

// The device's largest surface side, pixels: the drawing (picture x ssaa) must fit.
const int kMaxDrawSide = standin::kMaxDrawnSide;

// Where the pixels of one capture frame come from.
struct Layout {
  int frameWidth = 0, frameHeight = 0;      // the --render frame, pixels
  int pictureX = 0, pictureY = 0;           // top-left of the 4:3 picture in the frame, pixels
  int pictureWidth = 0, pictureHeight = 0;  // the picture, pixels; black bars around it
  int ssaa = 1;                             // samples per picture pixel along each axis, 1..4
  int drawWidth = 0, drawHeight = 0;        // what the demo draws: picture x ssaa, pixels
  int outWidth = 0, outHeight = 0;          // the written picture, pixels
};

// The layout for parsed options: the 800 x 600 picture fitted into the frame
// as the fullscreen display fits it (largest size with the aspect kept, sides
// rounded to nearest, centred).
Layout PlanLayout(const Options& options);

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

// RGB565 to 8-bit channels with bit replication (standin/rgb565.h: 0x1F and
// 0x3F become 255).
void Rgb565ToRgb(const uint16_t* pixels, int width, int height, int pitchBytes, Image* out);

// One shown picture (layout.pictureWidth x pictureHeight, RGB565 or
// XRGB8888) to the written frame: black bars, then scaling to the output
// size. `work` is scratch space kept between calls.
void DevelopFrame(const standin::Picture& shown, const Layout& layout, Image* work, Image* out);

// Bilinear resampling with pixel centres aligned; same size copies.
Image Scale(const Image& in, int width, int height);

// Writes `image` as an 8-bit RGB PNG (igzip deflate `level` 0..3, 0 fastest) to
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
