// Command line of democapture.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Capture.h"
#include "standin/cli.h"
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
    "  --from T       first demo time to capture (0..10000, default 0), or\n"
    "                 seconds of music with an 's' (12.5s)\n"
    "  --to T         capture demo times below T (default 10000: to the end), or\n"
    "                 music below T seconds with an 's' (60s)\n"
    "  --at T         capture only the frame at demo time T exactly, as if the\n"
    "                 music clock stood there (with --png: DIR/frameT.png)\n"
    "  --png DIR      write DIR/frameNNNNN.png, NNNNN the frame's number at --fps;\n"
    "                 a folder that already holds such frames is refused\n"
    "  --overwrite    with --png: remove the frames already in DIR first\n"
    "  --no-text      hide the text the demo draws (its time counter and captions)\n"
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
    "  --version      show the version and the commit\n"
    "Each option's value may also follow an '=' (--fps=50).\n"
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

// A demo time "T" (0..10000) or music seconds "S.s" followed by 's'.
bool ParseTime(const std::string& text, uint32_t* demoTime, std::optional<double>* seconds) {
  if (!text.empty() && text.back() == 's') {
    const std::string number = text.substr(0, text.size() - 1);
    if (number.empty() || number[0] == '-' || number[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(number.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > 86400) return false;
    *seconds = v;
    return true;
  }
  long n = 0;
  if (!ParseNumber(text, 0, 10000, &n)) return false;
  *demoTime = uint32_t(n);
  seconds->reset();
  return true;
}

bool ParseOptions(const std::vector<std::string>& words, Options* o, std::string* error) {
  bool haveTo = false, haveSize = false;
  standin::CommandLine args(words);
  auto fail = [&](const std::string& problem) {
    args.Fail(problem);
    return false;
  };
  // Each option's value check; false after recording the problem.
  auto option = [&]() -> bool {
    std::string v;
    long n = 0;
    if (args.Is("--help") || args.Is("-h")) {
      if (args.NoValue()) o->help = true;
      return true;
    }
    if (args.Is("--version")) {
      if (args.NoValue()) o->version = true;
      return true;
    }
    if (args.Is("--no-text")) {
      if (args.NoValue()) o->text = false;
      return true;
    }
    if (args.Is("--overwrite")) {
      if (args.NoValue()) o->overwrite = true;
      return true;
    }
    static const char* const kWithValue[] = {"--fps",  "--size",  "--render", "--ssaa",  "--writers",
                                             "--from", "--to",    "--trace",  "--at",    "--png",   "--video",
                                             "--scene", "--music", "--log"};
    bool known = false;
    for (const char* name : kWithValue) known = known || args.Is(name);
    if (!known) {
      args.Unknown();
      return false;
    }
    const std::string a = args.Word();
    if (!args.Value(&v)) return false;
    if (a == "--fps") {
      if (!ParseNumber(v, 1, 240, &n)) return fail("--fps: '" + v + "' is not a number from 1 to 240");
      o->fps = int(n);
    } else if (a == "--size") {
      if (!ParseSize(v, 16, 7680, 16, 4320, &o->width, &o->height))
        return fail("--size: '" + v + "' is not WIDTHxHEIGHT (16x16 to 7680x4320)");
      haveSize = true;
    } else if (a == "--render") {
      if (!ParseSize(v, 320, kMaxDrawSide, 240, kMaxDrawSide, &o->renderWidth, &o->renderHeight))
        return fail("--render: '" + v + "' is not WIDTHxHEIGHT (320x240 to " + std::to_string(kMaxDrawSide) + "x" +
                    std::to_string(kMaxDrawSide) + ")");
    } else if (a == "--ssaa") {
      if (!ParseNumber(v, 1, 4, &n)) return fail("--ssaa: '" + v + "' is not a number from 1 to 4");
      o->ssaa = int(n);
    } else if (a == "--writers") {
      if (!ParseNumber(v, 0, 16, &n)) return fail("--writers: '" + v + "' is not a number from 0 to 16");
      o->writers = int(n);
    } else if (a == "--from" || a == "--to") {
      const bool from = a == "--from";
      if (!ParseTime(v, from ? &o->from : &o->to, from ? &o->fromSeconds : &o->toSeconds))
        return fail(a + ": '" + v + "' is neither a demo time from 0 to 10000 nor seconds of music (12.5s)");
      if (!from) haveTo = true;
    } else if (a == "--trace" || a == "--at") {
      if (!ParseNumber(v, 0, 10000, &n)) return fail(a + ": '" + v + "' is not a demo time from 0 to 10000");
      (a == "--trace" ? o->trace : o->at) = uint32_t(n);
    } else {
      if (v.empty()) return fail(a + " needs a non-empty value");
      (a == "--png" ? o->pngDir : a == "--video" ? o->videoFile : a == "--scene" ? o->scene
       : a == "--music" ? o->music : o->log) = v;
    }
    return true;
  };
  while (args.Next()) {
    if (!args.IsOption()) {
      args.Fail("unexpected argument '" + args.Word() + "'");
      break;
    }
    if (!option()) break;
  }
  if (args.Failed()) {
    *error = args.Problem();
    return false;
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
    *error = "give exactly one of --png DIR and --video FILE.mp4";
    return false;
  }
  if (o->at) {
    if (!o->videoFile.empty()) {
      *error = "--at captures one picture; it takes --png, not --video";
      return false;
    }
    return true;
  }
  if (o->fromSeconds && o->toSeconds && !(*o->fromSeconds < *o->toSeconds)) {
    char text[96];
    std::snprintf(text, sizeof text, "--from %gs is not below --to %gs", *o->fromSeconds, *o->toSeconds);
    *error = text;
    return false;
  }
  if (!o->fromSeconds && !o->toSeconds && o->from >= o->to) {
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
