// Our Direct3D device beside Mesa's llvmpipe (through OSMesa) on the recorded
// triangle streams, drawn with the same state: modulate, bilinear, wrap,
// LESSEQUAL with writes, the stream's culling, an RGB565 target and a 16-bit
// depth buffer.
//
//   llvmpipe_streams [--threads N] [--save PREFIX] FILE.trs...
//     Draws frame 0 of each stream with both and compares the pictures:
//     PSNR over the three channels (expanded to 0..255) and the mean signed
//     difference, ours minus llvmpipe's, per channel; --save PREFIX writes both
//     pictures as PPM files. Exit code 1 when a stream
//     falls below kMinPsnr or beyond kMaxBias, 2 on bad input.
//   llvmpipe_streams --bench [--threads N] [--seconds S] FILE.trs...
//     Times every frame of each stream, repeated for S seconds (default 3),
//     with each renderer: mean and median milliseconds per frame, and the CPU
//     milliseconds per frame of all threads together. A frame is
//     clear colour to 0 and depth to 1.0, draw every draw call, and wait until
//     the picture is in memory (glFinish; Lock on our target).
//
// llvmpipe draws with N threads (LP_NUM_THREADS, default 1, so its pictures
// and times do not depend on the machine); our device with DEMO_THREADS.
//
// GL's window y grows upward and its pixel centres lie at half integers; the
// streams' y grows downward with centres at integers. The projection maps
// screen (x, y) to window (x + 0.5, height - 0.5 - y) and depth z to window z,
// and each vertex goes in as (x w, y w, z w, w) with w = 1 / rhw, so llvmpipe
// interpolates perspective-correctly as our device does.
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/osmesa.h>
#undef APIENTRY  // the Windows headers below define their own

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "StreamReplay.h"
#include "standin/rgb565.h"

namespace {

// Where our pictures stand against llvmpipe's today: 67.2, 61.8 and 62.5 dB on
// small, large and mixed. Both draw the same arithmetic (texel weights rounded
// to 1/256, colour rounded once after modulation) and snap vertices to 1/256
// pixel for coverage, with attributes interpolated from the unsnapped
// positions. What remains: 130 to 330 pixels of 480,000 differ, nearly all by
// one step, and 1 to 4 pixels per frame (a depth near-tie or an edge pixel)
// differ wholly and carry most of the squared error.
constexpr double kMinPsnr = 55.0;  // dB
constexpr double kMaxBias = 0.05;  // mean signed difference per channel, 0..255 scale

struct GlVertex {
  float x, y, z, w;  // (screen x, y, z) * w, w
  uint8_t rgba[4];
  float u, v;
};

struct GlCall {
  GLuint texture;
  std::vector<GlVertex> vertices;
};

class Llvmpipe {
 public:
  ~Llvmpipe() {
    if (context_ != nullptr) {
      if (!textures_.empty()) glDeleteTextures(static_cast<GLsizei>(textures_.size()), textures_.data());
      OSMesaDestroyContext(context_);
    }
  }

  bool Open(const standin::raster::TriangleStream& ts, std::string* error) {
    width_ = ts.width;
    height_ = ts.height;
    context_ = OSMesaCreateContextExt(OSMESA_RGB_565, 16, 0, 0, nullptr);
    if (context_ == nullptr) return (*error = "OSMesaCreateContextExt failed", false);
    pixels_.assign(static_cast<size_t>(width_) * height_, 0);
    if (!OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_SHORT_5_6_5, width_, height_)) {
      return (*error = "OSMesaMakeCurrent failed", false);
    }
    OSMesaPixelStore(OSMESA_Y_UP, 0);  // row 0 of the buffer is the top row

    glViewport(0, 0, width_, height_);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // x: -0.5 .. width - 0.5; y: height - 0.5 (bottom) .. -0.5 (top); eye z = -z, so z 0..1 -> NDC -1..1.
    glOrtho(-0.5, width_ - 0.5, height_ - 0.5, -0.5, 0.0, -1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDepthRange(0.0, 1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glDisable(GL_DITHER);
    glDisable(GL_BLEND);
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    // The flip keeps the screen's top at the window's top, so a triangle turns
    // the same way in both: culling clockwise ones culls GL's back faces.
    glFrontFace(GL_CCW);
    if (ts.cull == 1 || ts.cull == 2) {
      glEnable(GL_CULL_FACE);
      glCullFace(ts.cull == 1 ? GL_BACK : GL_FRONT);
    }
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    textures_.resize(ts.textures.size());
    glGenTextures(static_cast<GLsizei>(textures_.size()), textures_.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    for (size_t i = 0; i < ts.textures.size(); ++i) {
      const auto& t = ts.textures[i];
      glBindTexture(GL_TEXTURE_2D, textures_[i]);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, t.side, t.side, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5,
                   t.texels.data());
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);

    for (const auto& calls : stream_replay::CutFrames(ts)) {
      std::vector<GlCall> frame;
      for (const auto& c : calls) {
        GlCall g{textures_[c.texture], {}};
        for (const auto& v : c.vertices) {
          const float w = 1.0f / v.rhw;
          g.vertices.push_back(GlVertex{v.x * w, v.y * w, v.z * w, w,
                                        {static_cast<uint8_t>(v.diffuse >> 16), static_cast<uint8_t>(v.diffuse >> 8),
                                         static_cast<uint8_t>(v.diffuse), 255},
                                        v.u, v.v});
        }
        frame.push_back(std::move(g));
      }
      frames_.push_back(std::move(frame));
    }
    if (glGetError() != GL_NO_ERROR) return (*error = "GL set-up failed", false);
    return true;
  }

  void DrawFrame(size_t index) {
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (const GlCall& c : frames_[index % frames_.size()]) {
      glBindTexture(GL_TEXTURE_2D, c.texture);
      const GlVertex* v = c.vertices.data();
      glVertexPointer(4, GL_FLOAT, sizeof(GlVertex), &v->x);
      glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(GlVertex), v->rgba);
      glTexCoordPointer(2, GL_FLOAT, sizeof(GlVertex), &v->u);
      glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(c.vertices.size()));
    }
    glFinish();
  }

  const std::vector<uint16_t>& Pixels() const { return pixels_; }
  size_t FrameCount() const { return frames_.size(); }

 private:
  OSMesaContext context_ = nullptr;
  int width_ = 0, height_ = 0;
  std::vector<uint16_t> pixels_;
  std::vector<GLuint> textures_;
  std::vector<std::vector<GlCall>> frames_;
};

struct Comparison {
  double psnr;     // dB over all three channels
  double bias[3];  // mean of ours minus theirs, red, green, blue, 0..255 scale
};

// Channels expanded to 8 bits by repeating their top bits, as textures are.
Comparison Compare(const std::vector<uint16_t>& ours, const std::vector<uint16_t>& theirs) {
  auto expand = [](uint16_t p, int c) {
    uint8_t rgb[3];
    standin::Rgb565ToRgb8(p, rgb);
    return int(rgb[c]);
  };
  double sq = 0, sum[3] = {0, 0, 0};
  for (size_t i = 0; i < ours.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      const int d = expand(ours[i], c) - expand(theirs[i], c);
      sq += static_cast<double>(d) * d;
      sum[c] += d;
    }
  }
  const double n = static_cast<double>(ours.size());
  const double mse = sq / (3 * n);
  Comparison r;
  r.psnr = mse == 0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 / mse);
  for (int c = 0; c < 3; ++c) r.bias[c] = sum[c] / n;
  return r;
}

// CPU time of every thread of the process, milliseconds.
double ProcessCpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall-clock mean and median per frame, and CPU time per frame summed over
// all threads (on a busy machine the wall clock says little about scaling;
// equal CPU per frame at 1 and N threads means no work was added).
template <typename Draw>
void Time(Draw draw, size_t frames, double seconds, double* mean, double* median, double* cpu) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> ms;
  const double cpu0 = ProcessCpuMs();
  const auto start = Clock::now();
  for (size_t f = 0; ms.empty() || std::chrono::duration<double>(Clock::now() - start).count() < seconds; ++f) {
    const auto t0 = Clock::now();
    draw(f % frames);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  *cpu = (ProcessCpuMs() - cpu0) / ms.size();
  double total = 0;
  for (double m : ms) total += m;
  *mean = total / ms.size();
  std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
  *median = ms[ms.size() / 2];
}

// A binary PPM of an RGB565 picture, for looking at the two side by side.
void Save(const std::string& path, const std::vector<uint16_t>& pixels, int width, int height) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "llvmpipe_streams: cannot write %s\n", path.c_str());
    return;
  }
  std::fprintf(f, "P6\n%d %d\n255\n", width, height);
  for (uint16_t p : pixels) {
    uint8_t rgb[3];
    standin::Rgb565ToRgb8(p, rgb);
    std::fwrite(rgb, 1, 3, f);
  }
  std::fclose(f);
}

int Usage() {
  std::fprintf(stderr, "usage: llvmpipe_streams [--bench] [--threads N] [--seconds S] [--save PREFIX] FILE.trs...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool bench = false;
  int threads = 1;
  double seconds = 3.0;
  std::string save;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--bench") {
      bench = true;
    } else if (a == "--threads" && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
      if (threads < 1 || threads > 64) return Usage();
    } else if (a == "--save" && i + 1 < argc) {
      save = argv[++i];
    } else if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
      if (!(seconds > 0)) return Usage();
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) return Usage();
  // Read when the first context is made.
  setenv("LP_NUM_THREADS", std::to_string(threads).c_str(), 1);
  setenv("GALLIUM_DRIVER", "llvmpipe", 1);

  bool ok = true;
  for (const std::string& path : files) {
    stream_replay::Replay ours;
    std::string error;
    if (!ours.Open(path, &error)) {
      std::fprintf(stderr, "llvmpipe_streams: %s\n", error.c_str());
      return 2;
    }
    Llvmpipe theirs;
    if (!theirs.Open(ours.Stream(), &error)) {
      std::fprintf(stderr, "llvmpipe_streams: %s: %s\n", path.c_str(), error.c_str());
      return 2;
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (bench) {
      double om, omed, ocpu, tm, tmed, tcpu;
      Time([&](size_t f) { ours.DrawFrame(f); ours.FirstPixel(); }, ours.FrameCount(), seconds, &om, &omed, &ocpu);
      Time([&](size_t f) { theirs.DrawFrame(f); }, theirs.FrameCount(), seconds, &tm, &tmed, &tcpu);
      std::printf("%-10s ours %6.2f ms mean %6.2f median %6.2f cpu   llvmpipe(%d) %6.2f ms mean %6.2f median %6.2f cpu\n",
                  name.c_str(), om, omed, ocpu, threads, tm, tmed, tcpu);
      continue;
    }
    ours.DrawFrame(0);
    theirs.DrawFrame(0);
    const Comparison c = Compare(ours.Pixels(), theirs.Pixels());
    if (!save.empty()) {
      Save(save + name + ".ours.ppm", ours.Pixels(), ours.Stream().width, ours.Stream().height);
      Save(save + name + ".llvmpipe.ppm", theirs.Pixels(), ours.Stream().width, ours.Stream().height);
    }
    const bool pass = c.psnr >= kMinPsnr && std::fabs(c.bias[0]) <= kMaxBias &&
                      std::fabs(c.bias[1]) <= kMaxBias && std::fabs(c.bias[2]) <= kMaxBias;
    std::printf("%-10s PSNR %6.2f dB  mean ours - llvmpipe: R %+.4f G %+.4f B %+.4f  %s\n", name.c_str(),
                c.psnr, c.bias[0], c.bias[1], c.bias[2], pass ? "ok" : "FAIL");
    ok = ok && pass;
  }
  return ok ? 0 : 1;
}
