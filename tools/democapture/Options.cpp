// Command line of democapture.
#include <cerrno>
#include <cstdlib>

#include "Capture.h"
#include "standin/desktop.h"

namespace democapture {

const char kUsage[] =
    "Usage: democapture [options] (--png DIR | --video FILE.mp4)\n"
    "       democapture [--scene F] --trace T\n"
    "Renders the demo offline at a fixed frame rate, in a folder holding\n"
    "\"scene.2vef\" and \"Sound.mp3\".\n"
    "Options:\n"
    "  --fps N        frames per second of music (1..240, default 25)\n"
    "  --render WxH   draw the demo for a WxH frame (320x240 to 8192x8192;\n"
    "                 default 800x600, the demo's own): more detail, not scaling.\n"
    "                 A 4:3 size (1600x1200, 2880x2160) is filled; any other\n"
    "                 gets the 4:3 picture at the largest size that fits, centred\n"
    "                 between black bars. The printed time scales with it (its\n"
    "                 bitmap font enlarged pixel by pixel).\n"
    "  --ssaa N       supersampling, 1..4 (default 1): draw N x N times the\n"
    "                 pixels and average each N x N block (a box filter in linear\n"
    "                 light: sRGB decoded, averaged, encoded again)\n"
    "  --size WxH     scale the finished frame to WxH pixels for the file\n"
    "                 (bilinear; default: the --render size)\n"
    "  --from T       first demo time to capture (0..10000, default 0)\n"
    "  --to T         capture demo times below T (default 10000: to the end)\n"
    "  --png DIR      write DIR/frameNNNNN.png, NNNNN the frame's number at --fps\n"
    "  --video FILE   write an MP4 (H.264 and AAC) with the soundtrack, via ffmpeg\n"
    "  --scene F      scene file (default scene.2vef)\n"
    "  --music F      music file (default Sound.mp3)\n"
    "  --writers N    threads that convert, compress and write frames while the\n"
    "                 next ones are drawn (0..16; 0: each frame in turn on the\n"
    "                 drawing thread; default one per core, at most 4; a video\n"
    "                 has one). The files are the same whatever N.\n"
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

// "WxH" with W and H in their ranges.
bool ParseSize(const std::string& text, long minW, long maxW, long minH, long maxH, int* w, int* h) {
  size_t x = text.find('x');
  long a = 0, b = 0;
  if (x == std::string::npos || !ParseNumber(text.substr(0, x), minW, maxW, &a) ||
      !ParseNumber(text.substr(x + 1), minH, maxH, &b))
    return false;
  *w = int(a);
  *h = int(b);
  return true;
}

}  // namespace

Layout PlanLayout(const Options& o) {
  Layout l;
  l.frameWidth = o.renderWidth;
  l.frameHeight = o.renderHeight;
  const standin::FitRect fit = standin::FitWithAspect(800, 600, o.renderWidth, o.renderHeight);
  l.pictureX = fit.x;
  l.pictureY = fit.y;
  l.pictureWidth = fit.width;
  l.pictureHeight = fit.height;
  l.ssaa = o.ssaa;
  l.drawWidth = fit.width * o.ssaa;
  l.drawHeight = fit.height * o.ssaa;
  l.outWidth = o.width;
  l.outHeight = o.height;
  return l;
}

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error) {
  bool haveTo = false, haveSize = false;
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
      if (!ParseSize(v, 16, 7680, 16, 4320, &o->width, &o->height)) {
        *error = "--size: '" + v + "' is not WIDTHxHEIGHT (16x16 to 7680x4320)";
        return false;
      }
      haveSize = true;
    } else if (a == "--render") {
      if (!ParseSize(v, 320, kMaxDrawSide, 240, kMaxDrawSide, &o->renderWidth, &o->renderHeight)) {
        *error = "--render: '" + v + "' is not WIDTHxHEIGHT (320x240 to " + std::to_string(kMaxDrawSide) + "x" +
                 std::to_string(kMaxDrawSide) + ")";
        return false;
      }
    } else if (a == "--ssaa") {
      if (!ParseNumber(v, 1, 4, &n)) {
        *error = "--ssaa: '" + v + "' is not a number from 1 to 4";
        return false;
      }
      o->ssaa = int(n);
    } else if (a == "--writers") {
      if (!ParseNumber(v, 0, 16, &n)) {
        *error = "--writers: '" + v + "' is not a number from 0 to 16";
        return false;
      }
      o->writers = int(n);
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
  if (!haveSize) {
    o->width = o->renderWidth;
    o->height = o->renderHeight;
  }
  // The device draws the picture times the supersampling; it has a largest surface.
  const Layout layout = PlanLayout(*o);
  if (layout.drawWidth > kMaxDrawSide || layout.drawHeight > kMaxDrawSide) {
    *error = "--render " + std::to_string(o->renderWidth) + "x" + std::to_string(o->renderHeight) + " with --ssaa " +
             std::to_string(o->ssaa) + " draws " + std::to_string(layout.drawWidth) + "x" +
             std::to_string(layout.drawHeight) + " pixels; the device draws at most " + std::to_string(kMaxDrawSide) +
             " a side";
    return false;
  }
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
    *error = std::string(haveSize ? "--size" : "--render") + ": a video needs an even width and height";
    return false;
  }
  return true;
}

}  // namespace democapture
