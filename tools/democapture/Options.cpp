// Command line of democapture.
#include <cerrno>
#include <cstdlib>

#include "Capture.h"

namespace democapture {

const char kUsage[] =
    "Usage: democapture [options] (--png DIR | --video FILE.mp4)\n"
    "       democapture [--scene F] --trace T\n"
    "Renders the demo offline at a fixed frame rate, in a folder holding\n"
    "\"scene.2vef\" and \"Sound.mp3\".\n"
    "Options:\n"
    "  --fps N        frames per second of music (1..240, default 25)\n"
    "  --size WxH     output size in pixels (default 800x600, the demo's own)\n"
    "  --from T       first demo time to capture (0..10000, default 0)\n"
    "  --to T         capture demo times below T (default 10000: to the end)\n"
    "  --png DIR      write DIR/frameNNNNN.png, NNNNN the frame's number at --fps\n"
    "  --video FILE   write an MP4 (H.264 and AAC) with the soundtrack, via ffmpeg\n"
    "  --scene F      scene file (default scene.2vef)\n"
    "  --music F      music file (default Sound.mp3)\n"
    "  --log FILE     write the demo's own debug log to FILE (by default it is\n"
    "                 not shown)\n"
    "  --trace T      print every Flush (textures, 3 x n vertices) and every text\n"
    "                 print of the frame at demo time T, as plain text\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "Exit codes: 0 done, 1 failed, 2 bad command line, 130 interrupted.\n";

namespace {

bool ParseNumber(const std::string& text, long min, long max, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error) {
  bool haveTo = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o->help = true;
      continue;
    }
    if (a == "--version") {
      o->version = true;
      continue;
    }
    if (a.size() < 2 || a[0] != '-') {
      *error = "unexpected argument '" + a + "' (see --help)";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = a + " needs a value (see --help)";
      return false;
    }
    const std::string& v = args[++i];
    long n = 0;
    if (a == "--fps") {
      if (!ParseNumber(v, 1, 240, &n)) {
        *error = "--fps: '" + v + "' is not a number from 1 to 240";
        return false;
      }
      o->fps = int(n);
    } else if (a == "--size") {
      size_t x = v.find('x');
      long w = 0, h = 0;
      if (x == std::string::npos || !ParseNumber(v.substr(0, x), 16, 7680, &w) ||
          !ParseNumber(v.substr(x + 1), 16, 4320, &h)) {
        *error = "--size: '" + v + "' is not WIDTHxHEIGHT (16x16 to 7680x4320)";
        return false;
      }
      o->width = int(w);
      o->height = int(h);
    } else if (a == "--from" || a == "--to" || a == "--trace") {
      if (!ParseNumber(v, 0, 10000, &n)) {
        *error = a + ": '" + v + "' is not a demo time from 0 to 10000";
        return false;
      }
      if (a == "--from") o->from = uint32_t(n);
      if (a == "--to") {
        o->to = uint32_t(n);
        haveTo = true;
      }
      if (a == "--trace") o->trace = uint32_t(n);
    } else if (a == "--png") {
      o->pngDir = v;
    } else if (a == "--video") {
      o->videoFile = v;
    } else if (a == "--scene") {
      o->scene = v;
    } else if (a == "--music") {
      o->music = v;
    } else if (a == "--log") {
      o->log = v;
    } else {
      *error = "unknown option '" + a + "' (see --help)";
      return false;
    }
    if (v.empty() && (a == "--png" || a == "--video" || a == "--scene" || a == "--music" || a == "--log")) {
      *error = a + " needs a non-empty value";
      return false;
    }
  }
  if (o->help || o->version) return true;
  if (o->trace) {
    if (!o->pngDir.empty() || !o->videoFile.empty()) {
      *error = "--trace prints a frame; it takes neither --png nor --video";
      return false;
    }
    return true;
  }
  if (o->pngDir.empty() == o->videoFile.empty()) {
    *error = "give exactly one of --png DIR and --video FILE.mp4 (see --help)";
    return false;
  }
  if (o->from >= o->to) {
    *error = "--from " + std::to_string(o->from) + " is not below --to " + std::to_string(o->to) +
             (haveTo ? "" : " (the end)");
    return false;
  }
  if (!o->videoFile.empty() && (o->width % 2 != 0 || o->height % 2 != 0)) {
    *error = "--size: a video needs an even width and height";
    return false;
  }
  return true;
}

}  // namespace democapture
