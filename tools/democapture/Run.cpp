// The capture run: the demo's objects on the headless platform, one frame per
// step of the music, pictures handed to a writer thread (PNG files or the
// ffmpeg pipe), progress on standard error.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <dirent.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <deque>
#include <mutex>
#include <thread>

#include "Capture.h"
#include "D3DRenderer.h"
#include "Demo.h"
#include "MainWindow.h"
#include "Scene.h"
#include "ScenePlayer.h"
#include "TracingRenderer.h"
#include "standin/debuglog.h"
#include "standin/graphics.h"
#include "standin/host.h"

namespace democapture {
namespace {

const int kPngLevel = 1;  // fast: capture speed matters more than file size

volatile sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

// SIGINT and SIGTERM only set a flag (no restart of interrupted calls, so a
// blocked write to ffmpeg returns); the loop then cleans up.
void CatchSignals() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "democapture: %s\n", message.c_str());
  return kExitFailure;
}

// The demo's own objects, set up as the demo's start-up does (the renderer,
// the scene and its player); the music is only a clock here.
struct Demo {
  HWND window = 0;
  D3DRenderer* device = nullptr;
  Renderer* renderer = nullptr;  // the device, or a tracing wrapper around it
  TracingRenderer* tracer = nullptr;
  Scene* scene = nullptr;
  ScenePlayer* player = nullptr;

  ~Demo() {
    delete player;
    delete tracer;
    delete device;
    delete scene;
  }

  // Sets the demo up as it runs live, in its 800 x 600 mode, with the
  // stand-in's forced resolution drawing the picture at the layout's size
  // (supersampled when asked): the same scaling path as demo --render.
  bool Start(const std::string& scenePath, const Layout& layout, bool trace, std::string* error) {
    // Headless: no window on the desktop, no sound card.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    FILE* probe = std::fopen(scenePath.c_str(), "rb");
    if (!probe) {
      *error = "cannot open scene file '" + scenePath + "': " + std::strerror(errno);
      return false;
    }
    std::fclose(probe);
    window = CreateMainWindow(reinterpret_cast<HINSTANCE>(0x400000), SW_SHOWNORMAL, true, 800, 600);
    // Pictures go to the headless host, whatever the window set up.
    standin::SetHost(nullptr);
    standin::RenderSize size;
    size.width = layout.pictureWidth;
    size.height = layout.pictureHeight;
    size.ssaa = layout.ssaa;
    standin::SetRenderSize(size);
    device = DemoCreateRenderer(window, 800, 600);
    if (!device->PrimarySurface || !device->BackSurface || !device->Device) {
      *error = "the device layer could not be set up (DirectDraw/Direct3D error 0x" + Hex(uint32_t(device->LastResult)) + ")";
      return false;
    }
    renderer = device;
    if (trace) {
      tracer = new TracingRenderer(device, stdout);
      renderer = tracer;
    }
    scene = DemoImportScene(scenePath.c_str());
    if (!scene->isPlayable()) {
      const char* reason = scene->refusalReason();
      *error = "scene file '" + scenePath + "' is refused: " + (reason && reason[0] ? reason : "it could not be read");
      return false;
    }
    player = new ScenePlayer(renderer, scene);
    return true;
  }

  // One pass of the frame loop's drawing at demo time `time`.
  void Draw(uint32_t time) { DemoDrawFrame(renderer, *player, time); }

  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
  }
};

// A shown picture on its way to a file: capture frame k, the layout's
// picture size, rows packed: RGB565, or XRGB8888 when supersampled.
struct Drawn {
  uint64_t k = 0;
  std::vector<uint8_t> bytes;
  standin::PixelFormat format = standin::PixelFormat::RGB565;

  standin::Picture AsPicture(const Layout& layout) const {
    standin::Picture p;
    p.pixels = bytes.data();
    p.width = layout.pictureWidth;
    p.height = layout.pictureHeight;
    p.format = format;
    p.pitch = p.width * (format == standin::PixelFormat::RGB565 ? 2 : 4);
    return p;
  }
};

// Copies the headless host's presented picture into `drawn`, or false when
// no new picture of the layout's size was presented.
bool GrabPicture(int expectedPresents, const Layout& layout, Drawn* drawn) {
  const standin::HeadlessHost& host = standin::DefaultHeadlessHost();
  if (host.PresentCount() < expectedPresents) return false;
  const int w = host.LastWidth(), h = host.LastHeight();
  const size_t bytes = size_t(w) * size_t(h) * (host.LastFormat() == standin::PixelFormat::RGB565 ? 2 : 4);
  if (w != layout.pictureWidth || h != layout.pictureHeight || host.LastPicture().size() < bytes) return false;
  drawn->bytes.assign(host.LastPicture().begin(), host.LastPicture().begin() + ptrdiff_t(bytes));
  drawn->format = host.LastFormat();
  return true;
}

// Frames done, rate and time left: a bar redrawn in place on a terminal,
// a plain line every 5 % otherwise.
class Progress {
 public:
  explicit Progress(uint64_t total) : total_(total), tty_(isatty(STDERR_FILENO) != 0), start_(Clock::now()) {}
  void Update(uint64_t done) {
    auto now = Clock::now();
    double elapsed = std::chrono::duration<double>(now - start_).count();
    double rate = elapsed > 0 ? double(done) / elapsed : 0.0;
    double left = rate > 0 ? double(total_ - done) / rate : 0.0;
    if (tty_) {
      if (done != total_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
      lastDraw_ = now;
      const int width = 30;
      int filled = int(double(width) * double(done) / double(total_));
      std::string bar(size_t(filled), '#');
      bar.append(size_t(width - filled), '.');
      std::fprintf(stderr, "\r[%s] %llu/%llu frames  %.1f fps  %d:%02d left ", bar.c_str(), (unsigned long long)done,
                   (unsigned long long)total_, rate, int(left) / 60, int(left) % 60);
      if (done == total_) std::fputc('\n', stderr);
    } else {
      int percent = int(100 * done / total_);
      if (percent < nextPercent_ && done != total_) return;
      nextPercent_ = percent / 5 * 5 + 5;
      std::fprintf(stderr, "democapture: %llu/%llu frames (%d%%), %.1f fps, %.0f s left\n", (unsigned long long)done,
                   (unsigned long long)total_, percent, rate, left);
    }
    std::fflush(stderr);
  }
  void Abandon() {
    if (tty_) std::fputc('\n', stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  uint64_t total_;
  bool tty_;
  Clock::time_point start_, lastDraw_{};
  int nextPercent_ = 0;
};

// The ffmpeg child: raw RGB frames on its standard input, the soundtrack cut
// to the captured span, an MP4 at a temporary name.
class Encoder {
 public:
  ~Encoder() { Kill(); }

  bool Start(const std::string& ffmpeg, const Options& o, double startSeconds, double seconds,
             const std::string& output, std::string* error) {
    logPath_ = output + ".log";
    char size[32], rate[16], start[32], length[32];
    std::snprintf(size, sizeof size, "%dx%d", o.width, o.height);
    std::snprintf(rate, sizeof rate, "%d", o.fps);
    std::snprintf(start, sizeof start, "%.6f", startSeconds);
    std::snprintf(length, sizeof length, "%.6f", seconds);
    std::vector<std::string> args = {ffmpeg, "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                     "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-framerate", rate,
                                     "-i", "pipe:0", "-ss", start, "-t", length, "-i", o.music,
                                     "-map", "0:v:0", "-map", "1:a:0", "-c:v", "libx264", "-preset", "veryfast",
                                     "-crf", "18", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k",
                                     "-t", length, "-movflags", "+faststart", "-f", "mp4", output};
    int fds[2];
    if (pipe(fds) != 0) {
      *error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
      return false;
    }
    pid_ = fork();
    if (pid_ < 0) {
      *error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
      close(fds[0]);
      close(fds[1]);
      return false;
    }
    if (pid_ == 0) {
      // Own process group: a Ctrl-C on the terminal reaches only us, and we
      // stop ffmpeg ourselves after cleaning up.
      setpgid(0, 0);
      dup2(fds[0], STDIN_FILENO);
      close(fds[0]);
      close(fds[1]);
      int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (log >= 0) {
        dup2(log, STDERR_FILENO);
        close(log);
      }
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[0]);
    pipe_ = fds[1];
    return true;
  }

  // Writes one frame; false when ffmpeg no longer reads (or on a signal).
  bool Write(const Image& image) {
    const uint8_t* p = image.rgb.data();
    size_t left = image.rgb.size();
    while (left > 0) {
      ssize_t n = write(pipe_, p, left);
      if (n < 0) return false;
      p += n;
      left -= size_t(n);
    }
    return true;
  }

  // Closes the pipe and waits; true when ffmpeg finished without error.
  bool Finish(std::string* error) {
    close(pipe_);
    pipe_ = -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) *error = "ffmpeg failed: " + LogText();
    std::remove(logPath_.c_str());
    return ok;
  }

  // Stops ffmpeg at once (failure or interruption).
  void Kill() {
    if (pipe_ >= 0) close(pipe_);
    pipe_ = -1;
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
    }
    if (!logPath_.empty()) std::remove(logPath_.c_str());
  }

  std::string LogText() const {
    std::string text;
    if (FILE* f = std::fopen(logPath_.c_str(), "r")) {
      char buffer[512];
      size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
      buffer[n] = 0;
      text = buffer;
      std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text.empty() ? "it exited with an error and said nothing" : text;
  }

 private:
  pid_t pid_ = -1;
  int pipe_ = -1;
  std::string logPath_;
};

// Drawn pictures waiting for the writer threads, at most `capacity`, so
// memory stays flat; their buffers come back through Recycle and are reused,
// so a long capture allocates nothing per frame once it runs.
class FrameQueue {
 public:
  explicit FrameQueue(size_t capacity) : capacity_(capacity) {}
  void Push(Drawn drawn) {
    std::unique_lock<std::mutex> lock(mutex_);
    notFull_.wait(lock, [&] { return items_.size() < capacity_ || stop_; });
    if (stop_) return;
    items_.push_back(std::move(drawn));
    notEmpty_.notify_one();
  }
  bool Pop(Drawn* drawn) {
    std::unique_lock<std::mutex> lock(mutex_);
    notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
    if (items_.empty()) return false;
    *drawn = std::move(items_.front());
    items_.pop_front();
    notFull_.notify_one();
    return true;
  }
  // A buffer for the next picture: a returned one when there is one.
  Drawn Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.empty()) return Drawn();
    Drawn d = std::move(spare_.back());
    spare_.pop_back();
    return d;
  }
  void Recycle(Drawn drawn) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.size() < capacity_ + 1) spare_.push_back(std::move(drawn));
  }
  // No more pictures will come.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    notEmpty_.notify_all();
  }
  // The writer gave up: release a waiting producer.
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    items_.clear();
    notFull_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable notEmpty_, notFull_;
  std::deque<Drawn> items_;
  std::vector<Drawn> spare_;
  size_t capacity_;
  bool closed_ = false, stop_ = false;
};

std::string FramePath(const std::string& dir, uint64_t k) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame%05llu.png", (unsigned long long)k);
  return dir + name;
}

// The names of the frames FramePath writes that are in `dir` ("frame" and at
// least five digits, ".png"), sorted.
std::vector<std::string> FramesIn(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    const size_t digits = name.size() >= 14 ? name.size() - 9 : 0;
    if (digits < 5 || name.compare(0, 5, "frame") != 0 || name.compare(name.size() - 4, 4, ".png") != 0) continue;
    if (name.find_first_not_of("0123456789", 5) != name.size() - 4) continue;
    names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// The first capture frame at or after `seconds` of music: frame k is at k / fps.
// The small allowance keeps 0.1 s at 30 fps (3.0000000000000004) on frame 3.
uint64_t FirstFrameAt(double seconds, int fps) {
  return uint64_t(std::ceil(seconds * double(fps) - 1e-9));
}

std::string SpanBound(uint32_t demoTime, const std::optional<double>& seconds) {
  if (!seconds) return "demo time " + std::to_string(demoTime);
  char text[48];
  std::snprintf(text, sizeof text, "%gs of music", *seconds);
  return text;
}

int RunTrace(const Options& o) {
  Demo demo;
  std::string error;
  if (!demo.Start(o.scene, PlanLayout(o), true, &error)) return Fail(error);
  std::printf("Frame time=%u\n", unsigned(*o.trace));
  demo.tracer->enabled = true;
  demo.Draw(*o.trace);
  demo.tracer->enabled = false;
  std::fflush(stdout);
  return kExitOk;
}

int RunCapture(const Options& o) {
  std::string error;
  MusicClock clock;
  if (!OpenMusic(o.music, &clock, &error)) return Fail(error);
  uint64_t first = 0, end = 0;
  if (o.at) {
    end = 1;  // one frame, named by its time
  } else {
    clock.Range(o.from, o.to, o.fps, &first, &end);
    // Bounds in seconds select frames by their music time, k / fps.
    if (o.fromSeconds) first = std::max(first, FirstFrameAt(*o.fromSeconds, o.fps));
    if (o.toSeconds) end = std::min(end, FirstFrameAt(*o.toSeconds, o.fps));
  }
  if (first >= end)
    return Fail("no frame at " + std::to_string(o.fps) + " fps lies between " + SpanBound(o.from, o.fromSeconds) +
                " and " + SpanBound(o.to, o.toSeconds));

  // The inputs first: nothing is created for a run that cannot start.
  const Layout layout = PlanLayout(o);
  Demo demo;
  if (!demo.Start(o.scene, layout, false, &error)) return Fail(error);

  // The output, checked before any drawing.
  const bool video = !o.videoFile.empty();
  std::string ffmpeg, partial;
  bool createdDir = false;
  if (video) {
    ffmpeg = FindProgram("ffmpeg");
    if (ffmpeg.empty()) return Fail("ffmpeg not found on PATH: install it (apt-get install ffmpeg) or use --png");
    partial = o.videoFile + ".partial";
    int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return Fail("cannot write '" + o.videoFile + "': " + std::strerror(errno));
    close(fd);
  } else {
    if (mkdir(o.pngDir.c_str(), 0777) == 0) createdDir = true;
    else if (errno != EEXIST) return Fail("cannot create folder '" + o.pngDir + "': " + std::strerror(errno));
    struct stat st;
    if (stat(o.pngDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail("'" + o.pngDir + "' is not a folder");
    if (access(o.pngDir.c_str(), W_OK) != 0)
      return Fail("cannot write into '" + o.pngDir + "': " + std::strerror(errno));
    // Frames of an earlier capture would mix with this one's.
    const std::vector<std::string> old = FramesIn(o.pngDir);
    if (!old.empty() && !o.overwrite)
      return Fail("'" + o.pngDir + "' already holds " + std::to_string(old.size()) +
                  " frames (" + old.front() + "); add --overwrite to replace them");
    for (const std::string& name : old) {
      const std::string path = o.pngDir + "/" + name;
      if (std::remove(path.c_str()) != 0) return Fail("cannot remove '" + path + "': " + std::strerror(errno));
    }
  }
  // What a failed or interrupted run removes: the unfinished video, or the
  // folder it made if no frame got into it.
  auto removePartial = [&] {
    if (!partial.empty()) std::remove(partial.c_str());
    if (createdDir) rmdir(o.pngDir.c_str());
  };

  CatchSignals();
  Encoder encoder;
  if (video) {
    double start = double(clock.Position(first, o.fps)) / double(2 * clock.channels) / double(clock.rate);
    double seconds = double(end - first) / double(o.fps);
    if (!encoder.Start(ffmpeg, o, start, seconds, partial, &error)) {
      removePartial();
      return Fail(error);
    }
  }

  // Writer threads beside the drawing turn drawn pictures into frames and
  // write them: one feeds the ffmpeg pipe (in order); PNG files are
  // independent, so one per core. With none, the drawing thread does it all
  // in turn. Either way each frame's bytes depend only on its picture.
  unsigned threads = o.writers >= 0 ? unsigned(o.writers) : std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  if (video) threads = std::min(threads, 1u);
  // Queued pictures: two per writer and one, fewer when frames are very large.
  const size_t drawnBytes = size_t(layout.pictureWidth) * size_t(layout.pictureHeight) * 4;
  const size_t kQueueBytes = size_t(256) << 20;
  FrameQueue queue(std::max<size_t>(1, std::min<size_t>(2 * threads + 1, kQueueBytes / drawnBytes)));
  std::mutex errorMutex;
  std::string writeError;
  auto setError = [&](const std::string& e) {
    std::lock_guard<std::mutex> lock(errorMutex);
    if (writeError.empty()) writeError = e;
  };
  auto hasError = [&] {
    std::lock_guard<std::mutex> lock(errorMutex);
    return !writeError.empty();
  };
  // One drawn picture to its file or to ffmpeg; false after a failure (set).
  auto develop = [&](const Drawn& drawn, Image* work, Image* frame) {
    DevelopFrame(drawn.AsPicture(layout), layout, work, frame);
    std::string e;
    if (video ? encoder.Write(*frame) : WritePng(FramePath(o.pngDir, drawn.k), *frame, kPngLevel, &e)) return true;
    if (video && !g_interrupted) e = "ffmpeg stopped reading frames: " + encoder.LogText();
    if (!e.empty()) setError(e);
    return false;
  };
  std::vector<std::thread> writers;
  for (unsigned t = 0; t < threads; ++t)
    writers.emplace_back([&] {
      Drawn drawn;
      Image work, frame;
      while (queue.Pop(&drawn)) {
        if (!develop(drawn, &work, &frame)) {
          queue.Stop();
          return;
        }
        queue.Recycle(std::move(drawn));
      }
    });

  Progress progress(end - first);
  int presents = standin::DefaultHeadlessHost().PresentCount();
  bool failed = false;
  Image work, frame;  // the drawing thread's, when it writes itself
  for (uint64_t k = first; k < end && !g_interrupted; ++k) {
    demo.Draw(o.at ? *o.at : clock.TimeOf(k, o.fps));
    Drawn drawn = queue.Take();
    drawn.k = o.at ? *o.at : k;
    if (!GrabPicture(++presents, layout, &drawn)) {
      setError("the device presented no picture of " + std::to_string(layout.pictureWidth) + "x" +
               std::to_string(layout.pictureHeight));
      failed = true;
      break;
    }
    if (threads == 0) {
      if (!develop(drawn, &work, &frame)) {
        failed = !g_interrupted;  // a write cut short by Ctrl-C is an interruption
        break;
      }
      queue.Recycle(std::move(drawn));
    } else {
      queue.Push(std::move(drawn));
    }
    if (hasError()) {
      failed = true;
      break;
    }
    progress.Update(k - first + 1);
  }
  queue.Close();
  if (failed || g_interrupted) queue.Stop();
  for (std::thread& w : writers) w.join();
  if (!writeError.empty()) failed = true;

  if (failed || g_interrupted) {
    progress.Abandon();
    encoder.Kill();
    removePartial();
    if (g_interrupted && !failed) {
      std::fprintf(stderr, "democapture: interrupted%s\n", video ? "; no video written" : "");
      return kExitInterrupted;
    }
    return Fail(writeError);
  }
  if (video) {
    if (!encoder.Finish(&error)) {
      removePartial();
      return Fail(error);
    }
    if (std::rename(partial.c_str(), o.videoFile.c_str()) != 0) {
      std::string why = std::strerror(errno);
      removePartial();
      return Fail("cannot write '" + o.videoFile + "': " + why);
    }
  }
  return kExitOk;
}

}  // namespace

int Run(const Options& o) {
  // The demo logs as it would to a debugger; here that would break up the
  // progress display and the trace, so it goes to --log or nowhere.
  int log = -1;
  if (!o.log.empty()) {
    log = open(o.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) return Fail("cannot write the log '" + o.log + "': " + std::strerror(errno));
  }
  standin::SetDebugOutput(log);
  standin::SetTextShown(o.text);
  const int code = o.trace ? RunTrace(o) : RunCapture(o);
  standin::SetTextShown(true);
  standin::SetDebugOutput(STDERR_FILENO);
  if (log >= 0) close(log);
  return code;
}

}  // namespace democapture
