// democapture: the command line, the music clock (the frame loop's own
// formula), pictures and PNG files, and the tool end to end on the default
// demo: reference frames, a video ffprobe accepts, clear errors, and nothing
// half-written left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "Capture.h"
#include "Demo.h"
#include "SceneWriter.h"

namespace dc = democapture;

namespace {

const std::string kTool = std::string(DEMO_BINARY_DIR) + "/tools/democapture/democapture";
const std::string kGen = std::string(DEMO_BINARY_DIR) + "/tools/demogen/demogen";
const std::string kData = std::string(DEMO_SOURCE_DIR) + "/tests/tools/data";

std::string TempDir(const char* name) {
  std::string dir = std::string(::testing::TempDir()) + name + "-" + std::to_string(getpid());
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  return dir;
}

// Runs a shell command; returns its exit code and fills *output with what it
// wrote to standard error (and standard output when asked).
int Shell(const std::string& command, std::string* output = nullptr) {
  std::string log = std::string(::testing::TempDir()) + "shell-" + std::to_string(getpid()) + ".txt";
  int status = std::system((command + " >'" + log + "' 2>&1").c_str());
  if (output) {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    *output = text.str();
  }
  std::remove(log.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool Parse(std::vector<std::string> args, dc::Options* o, std::string* error) {
  *o = dc::Options();
  return dc::ParseOptions(args, o, error);
}

TEST(CaptureOptions, AcceptsTheDocumentedForms) {
  dc::Options o;
  std::string error;
  ASSERT_TRUE(Parse({"--fps", "30", "--size", "640x480", "--from", "100", "--to", "9000", "--png", "out"}, &o, &error))
      << error;
  EXPECT_EQ(o.fps, 30);
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 480);
  EXPECT_EQ(o.from, 100u);
  EXPECT_EQ(o.to, 9000u);
  EXPECT_EQ(o.pngDir, "out");
  ASSERT_TRUE(Parse({"--video", "a.mp4", "--scene", "s.2vef", "--music", "m.mp3"}, &o, &error)) << error;
  EXPECT_EQ(o.videoFile, "a.mp4");
  EXPECT_EQ(o.scene, "s.2vef");
  EXPECT_EQ(o.music, "m.mp3");
  EXPECT_EQ(o.fps, 25);
  EXPECT_EQ(o.to, 10000u);
  // --render sets the drawing and, without --size, the output; --size alone scales.
  ASSERT_TRUE(Parse({"--render", "1600x1200", "--ssaa", "2", "--writers", "0", "--png", "o"}, &o, &error)) << error;
  EXPECT_EQ(o.renderWidth, 1600);
  EXPECT_EQ(o.width, 1600);
  EXPECT_EQ(o.height, 1200);
  EXPECT_EQ(o.ssaa, 2);
  EXPECT_EQ(o.writers, 0);
  ASSERT_TRUE(Parse({"--render", "1920x1080", "--size", "960x540", "--png", "o"}, &o, &error)) << error;
  EXPECT_EQ(o.width, 960);
  ASSERT_TRUE(Parse({"--from=2.5s", "--to", "60s", "--fps=50", "--png=o"}, &o, &error)) << error;
  EXPECT_EQ(*o.fromSeconds, 2.5);
  EXPECT_EQ(*o.toSeconds, 60.0);
  EXPECT_EQ(o.fps, 50);
  EXPECT_EQ(o.pngDir, "o");
  ASSERT_TRUE(Parse({"--trace", "5000"}, &o, &error)) << error;
  EXPECT_EQ(*o.trace, 5000u);
  ASSERT_TRUE(Parse({"--at", "9900", "--png", "o"}, &o, &error)) << error;
  EXPECT_EQ(*o.at, 9900u);
  ASSERT_TRUE(Parse({"--help"}, &o, &error));
  EXPECT_TRUE(o.help);
}

TEST(CaptureOptions, RefusesBadCommandLinesNamingTheProblem) {
  struct Case {
    std::vector<std::string> args;
    const char* mentions;
  } cases[] = {
      {{}, "exactly one"},
      {{"--png", "a", "--video", "b.mp4"}, "exactly one"},
      {{"--fps", "0", "--png", "a"}, "--fps"},
      {{"--fps", "25x", "--png", "a"}, "--fps"},
      {{"--size", "800", "--png", "a"}, "--size"},
      {{"--size", "8x600", "--png", "a"}, "--size"},
      {{"--size", "801x600", "--video", "a.mp4"}, "even"},
      {{"--from", "500", "--to", "500", "--png", "a"}, "--from"},
      {{"--to", "10001", "--png", "a"}, "--to"},
      {{"--png"}, "--png"},
      {{"--png", ""}, "--png"},
      {{"--frobnicate", "1"}, "--frobnicate"},
      {{"stray"}, "stray"},
      {{"--trace", "10", "--png", "a"}, "--trace"},
      {{"--at", "10", "--video", "a.mp4"}, "--at"},
      {{"--at", "10001", "--png", "a"}, "--at"},
      {{"--render", "0x0", "--png", "a"}, "--render"},
      {{"--render", "100000x75000", "--png", "a"}, "--render"},
      {{"--render", "1601x1200", "--video", "a.mp4"}, "even"},
      {{"--render", "4096x3072", "--ssaa", "3", "--png", "a"}, "12288x9216"},
      {{"--ssaa", "5", "--png", "a"}, "--ssaa"},
      {{"--writers", "-1", "--png", "a"}, "--writers"},
      {{"--from", "-1s", "--png", "a"}, "--from"},
      {{"--to", "s", "--png", "a"}, "--to"},
      {{"--from", "5s", "--to", "5s", "--png", "a"}, "--from"},
      {{"--no-text=1", "--png", "a"}, "--no-text"},
  };
  for (const Case& c : cases) {
    dc::Options o;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &o, &error)) << c.mentions;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << "'" << error << "' should mention " << c.mentions;
  }
}

TEST(MusicClock, FrameTimesAreTheFrameLoopsAndCoverTheMusic) {
  dc::MusicClock clock;
  clock.rate = 44100;
  clock.channels = 2;
  clock.lengthBytes = 3048192u * 4u;  // the default soundtrack: 69.12 s
  for (uint64_t k : {0ull, 1ull, 2ull, 863ull, 1727ull}) {
    uint32_t position = uint32_t(k * 1764 * 4);
    EXPECT_EQ(clock.Position(k, 25), position);
    EXPECT_EQ(clock.TimeOf(k, 25), DemoTimeFromPosition(position, float(clock.lengthBytes)));
  }
  uint64_t first = 99, end = 0;
  clock.Range(0, 10000, 25, &first, &end);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(end, 1728u) << "69.12 s at 25 fps";
  // A span starts at the first frame at or after --from and stops before --to.
  clock.Range(5000, 5100, 25, &first, &end);
  EXPECT_GE(clock.TimeOf(first, 25), 5000u);
  EXPECT_LT(clock.TimeOf(first - 1, 25), 5000u);
  EXPECT_LT(clock.TimeOf(end - 1, 25), 5100u);
  EXPECT_GE(clock.TimeOf(end, 25), 5100u);
  // A rate that does not divide the sample rate: positions stay on whole
  // sample frames of 4 bytes and never run past the music.
  clock.Range(0, 10000, 7, &first, &end);
  EXPECT_EQ(clock.Position(1, 7) % 4, 0u);
  EXPECT_LT(clock.Position(end - 1, 7), clock.lengthBytes);
  EXPECT_GE(clock.Position(end, 7), clock.lengthBytes);
  // Mono: 2 bytes per sample frame.
  clock.channels = 1;
  EXPECT_EQ(clock.Position(1, 25), 1764u * 2u);
}

TEST(CaptureImage, ConvertsScalesAndRoundTripsPng) {
  const uint16_t pixels[4] = {0xFFFF, 0xF800, 0x07E0, 0x0841};
  dc::Image image;
  dc::Rgb565ToRgb(pixels, 2, 2, 4, &image);
  const uint8_t expected[12] = {255, 255, 255, 255, 0, 0, 0, 255, 0, 8, 8, 8};
  ASSERT_EQ(image.rgb.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(image.rgb[size_t(i)], expected[i]) << "byte " << i;

  // Halving a black/white column pattern averages each pair.
  dc::Image stripes;
  stripes.width = 4;
  stripes.height = 2;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) stripes.rgb.push_back(x % 2 ? 200 : 0);
  dc::Image half = dc::Scale(stripes, 2, 1);
  ASSERT_EQ(half.rgb.size(), 6u);
  for (uint8_t v : half.rgb) EXPECT_EQ(v, 100);
  EXPECT_EQ(dc::Scale(stripes, 4, 2).rgb, stripes.rgb);

  std::string dir = TempDir("png");
  std::string error;
  ASSERT_TRUE(dc::WritePng(dir + "/a.png", image, 1, &error)) << error;
  dc::Image back;
  ASSERT_TRUE(dc::ReadPng(dir + "/a.png", &back, &error)) << error;
  EXPECT_EQ(back.width, 2);
  EXPECT_EQ(back.height, 2);
  EXPECT_EQ(back.rgb, image.rgb);
  EXPECT_FALSE(Exists(dir + "/a.png.partial"));
  // A folder that does not exist: the message names the file.
  EXPECT_FALSE(dc::WritePng(dir + "/missing/b.png", image, 1, &error));
  EXPECT_NE(error.find(dir + "/missing/b.png"), std::string::npos) << error;
  // Not a PNG.
  std::ofstream(dir + "/c.png") << "not a picture";
  EXPECT_FALSE(dc::ReadPng(dir + "/c.png", &back, &error));
  EXPECT_NE(error.find("c.png"), std::string::npos) << error;
}

// Compares a captured frame with a stored reference of the same size: the
// frame must not be blank, and must match within a tolerance that a change of
// text rendering or of rounding in the rasterizer does not exceed.
void ExpectLikeReference(const std::string& framePath, const std::string& referencePath) {
  dc::Image frame, reference;
  std::string error;
  ASSERT_TRUE(dc::ReadPng(framePath, &frame, &error)) << error;
  ASSERT_TRUE(dc::ReadPng(referencePath, &reference, &error)) << error;
  ASSERT_EQ(frame.width, reference.width);
  ASSERT_EQ(frame.height, reference.height);
  // Not blank: many different colours, not just the background.
  double mean = 0, square = 0;
  for (uint8_t v : frame.rgb) {
    mean += v;
    square += double(v) * v;
  }
  mean /= double(frame.rgb.size());
  double deviation = std::sqrt(square / double(frame.rgb.size()) - mean * mean);
  EXPECT_GT(deviation, 20.0) << framePath << " looks blank";
  double difference = 0;
  size_t far = 0;
  for (size_t i = 0; i < frame.rgb.size(); ++i) {
    int d = std::abs(int(frame.rgb[i]) - int(reference.rgb[i]));
    difference += d;
    if (d > 64) ++far;
  }
  difference /= double(frame.rgb.size());
  EXPECT_LT(difference, 4.0) << framePath << " differs from " << referencePath;
  EXPECT_LT(double(far) / double(frame.rgb.size()), 0.02) << framePath << " differs from " << referencePath;
}

// The default demo at 10 %, 50 % and 90 %, at 200 x 150 (one frame each at
// 1 fps: frames 7, 35 and 62 of the 69.12 s piece).
TEST(Capture, DefaultDemoFramesMatchTheirReferences) {
  std::string dir = TempDir("default");
  ASSERT_EQ(Shell(kGen + " '" + dir + "'"), 0);
  std::string out;
  ASSERT_EQ(Shell("cd '" + dir + "' && " + kTool + " --fps 1 --size 200x150 --from 900 --to 1100 --png f10", &out), 0)
      << out;
  ASSERT_EQ(Shell("cd '" + dir + "' && " + kTool + " --fps 1 --size 200x150 --from 4950 --to 5100 --png f50", &out),
            0)
      << out;
  ASSERT_EQ(Shell("cd '" + dir + "' && " + kTool + " --fps 1 --size 200x150 --from 8950 --to 9100 --png f90", &out),
            0)
      << out;
  ExpectLikeReference(dir + "/f10/frame00007.png", kData + "/default_10.png");
  ExpectLikeReference(dir + "/f50/frame00035.png", kData + "/default_50.png");
  ExpectLikeReference(dir + "/f90/frame00062.png", kData + "/default_90.png");
}

// The 2 x 2 mean (stored values, rounded to nearest) of a picture of even size.
dc::Image Halve(const dc::Image& in) {
  dc::Image out;
  out.width = in.width / 2;
  out.height = in.height / 2;
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x)
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int px, int py) { return int(in.rgb[(size_t(py) * size_t(in.width) + size_t(px)) * 3 + size_t(c)]); };
        out.rgb.push_back(uint8_t((at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1) + 2) / 4));
      }
  return out;
}

// The default demo drawn at 1600 x 1200 is the 800 x 600 picture at twice the
// detail. Halved (2 x 2 means), it must match the 800 x 600 frame: mean
// absolute difference of the channel values below 3.5 (of 255) and under
// 0.4 % of them more than 64 apart. Edges, textures sampled twice as finely
// and the projection's half-pixel terms, which follow the size, leave 1.6 to
// 2.5 and at most 0.12 % on these frames; the same frames one 800 x 600 pixel
// out of place give 4.0 to 9.7 and 0.7 to 2.4 %, so a wrong projection,
// framing or text scale fails. And it is not the small picture scaled up: a
// tenth or more of its 2 x 2 blocks are not of one colour (0.39 to 0.57 here).
TEST(Capture, RenderDrawsTheSamePictureAtTwiceTheDetail) {
  std::string dir = TempDir("hd");
  ASSERT_EQ(Shell(kGen + " '" + dir + "'"), 0);
  struct Moment {
    const char *from, *to, *frame;
  } moments[] = {{"900", "1100", "frame00007.png"}, {"4950", "5100", "frame00035.png"}, {"8950", "9100", "frame00062.png"}};
  for (const Moment& m : moments) {
    std::string out, range = std::string(" --fps 1 --from ") + m.from + " --to " + m.to;
    ASSERT_EQ(Shell("cd '" + dir + "' && " + kTool + range + " --png sd --overwrite", &out), 0) << out;
    ASSERT_EQ(Shell("cd '" + dir + "' && " + kTool + range + " --render 1600x1200 --png hd --overwrite", &out), 0)
        << out;
    dc::Image sd, hd;
    std::string error;
    ASSERT_TRUE(dc::ReadPng(dir + "/sd/" + m.frame, &sd, &error)) << error;
    ASSERT_TRUE(dc::ReadPng(dir + "/hd/" + m.frame, &hd, &error)) << error;
    ASSERT_EQ(hd.width, 1600);
    ASSERT_EQ(hd.height, 1200);
    size_t mixed = 0;
    for (int y = 0; y < 1200; y += 2)
      for (int x = 0; x < 1600; x += 2) {
        const uint8_t* p = &hd.rgb[(size_t(y) * 1600 + size_t(x)) * 3];
        mixed += std::memcmp(p, p + 3, 3) != 0 || std::memcmp(p, p + 1600 * 3, 3) != 0;
      }
    const dc::Image half = Halve(hd);
    double difference = 0;
    size_t far = 0;
    for (size_t i = 0; i < sd.rgb.size(); ++i) {
      int d = std::abs(int(half.rgb[i]) - int(sd.rgb[i]));
      difference += d;
      far += d > 64;
    }
    difference /= double(sd.rgb.size());
    const double farShare = double(far) / double(sd.rgb.size());
    EXPECT_LT(difference, 3.5) << m.frame;
    EXPECT_LT(farShare, 0.004) << m.frame;
    EXPECT_GT(double(mixed) / (800.0 * 600.0), 0.1) << m.frame;
  }
}

double ProbeSeconds(const std::string& file, const std::string& entry, std::string* log) {
  std::string text;
  int code = Shell("ffprobe -v error -show_entries " + entry + " -of default=noprint_wrappers=1:nokey=1 '" + file + "'",
                   &text);
  *log = text;
  return code == 0 ? std::atof(text.c_str()) : -1.0;
}

// A short piece (2 bars, 3.84 s) keeps the video and error checks quick.
class CaptureShort : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempDir("short");
    ASSERT_EQ(Shell(kGen + " --bars 2 '" + dir_ + "'"), 0);
  }
  std::string In(const std::string& args) {
    return "cd '" + dir_ + "' && " + kTool + " " + args;
  }
  std::string dir_;
};

TEST_F(CaptureShort, VideoLastsAsLongAsTheMusicAndProbesClean) {
  std::string out, log;
  ASSERT_EQ(Shell(In("--fps 10 --size 160x120 --video clip.mp4"), &out), 0) << out;
  EXPECT_TRUE(Exists(dir_ + "/clip.mp4"));
  EXPECT_FALSE(Exists(dir_ + "/clip.mp4.partial"));
  const double music = 2 * 84672 / 44100.0;  // 3.84 s
  double format = ProbeSeconds(dir_ + "/clip.mp4", "format=duration", &log);
  EXPECT_NEAR(format, music, 1.0 / 10) << log;
  double video = ProbeSeconds(dir_ + "/clip.mp4", "stream=duration -select_streams v:0", &log);
  EXPECT_NEAR(video, music, 1.0 / 10) << log;
  std::string errors;
  EXPECT_EQ(Shell("(ffprobe -v error -show_streams '" + dir_ + "/clip.mp4' >/dev/null)", &errors), 0);
  EXPECT_EQ(errors, "");
}

TEST_F(CaptureShort, ClearErrorsAndNothingHalfWritten) {
  std::string out;
  EXPECT_EQ(Shell(In("--scene nothere.2vef --png f"), &out), 1);
  EXPECT_NE(out.find("nothere.2vef"), std::string::npos) << out;
  EXPECT_EQ(Shell(In("--music nothere.mp3 --png f"), &out), 1);
  EXPECT_NE(out.find("nothere.mp3"), std::string::npos) << out;
  // A file that is not music, and one that is not a scene.
  EXPECT_EQ(Shell(In("--music scene.2vef --png f"), &out), 1);
  EXPECT_NE(out.find("scene.2vef"), std::string::npos) << out;
  EXPECT_NE(out.find("refused"), std::string::npos) << out;
  std::ofstream(dir_ + "/bad.2vef") << "0123";
  EXPECT_EQ(Shell(In("--scene bad.2vef --png f"), &out), 1);
  EXPECT_NE(out.find("bad.2vef"), std::string::npos) << out;
  // No ffmpeg on the path.
  EXPECT_EQ(Shell("cd '" + dir_ + "' && PATH=/nonexistent " + kTool + " --video v.mp4", &out), 1);
  EXPECT_NE(out.find("ffmpeg"), std::string::npos) << out;
  // Unwritable output.
  EXPECT_EQ(Shell(In("--video nodir/v.mp4"), &out), 1);
  EXPECT_NE(out.find("nodir/v.mp4"), std::string::npos) << out;
  std::ofstream(dir_ + "/plain") << "x";
  EXPECT_EQ(Shell(In("--png plain"), &out), 1);
  EXPECT_NE(out.find("plain"), std::string::npos) << out;
  EXPECT_EQ(Shell(In("--to 100 --png f --log nodir/demo.log"), &out), 1);
  EXPECT_NE(out.find("nodir/demo.log"), std::string::npos) << out;
  // Bad command line: usage exit code.
  EXPECT_EQ(Shell(In("--fps 0 --png f"), &out), 2);
  EXPECT_FALSE(Exists(dir_ + "/v.mp4.partial"));
  EXPECT_FALSE(Exists(dir_ + "/f"));
}

// A span in seconds of music, a folder that already holds frames, and the
// picture without the demo's own text.
TEST_F(CaptureShort, SecondsOverwriteAndNoText) {
  std::string out;
  auto frame = [&](int k) {
    char name[32];
    std::snprintf(name, sizeof name, "/s/frame%05d.png", k);
    return dir_ + name;
  };
  // Frame k of 10 per second is at k / 10 s: 1 s up to 1.5 s is frames 10 to 14.
  ASSERT_EQ(Shell(In("--fps 10 --size 200x150 --from=1s --to 1.5s --png s"), &out), 0) << out;
  EXPECT_FALSE(Exists(frame(9)));
  EXPECT_TRUE(Exists(frame(10)) && Exists(frame(14)));
  EXPECT_FALSE(Exists(frame(15)));
  // Old and new frames would mix: refused, nothing touched.
  EXPECT_EQ(Shell(In("--fps 10 --size 200x150 --from 1s --to 1.2s --png s"), &out), 1);
  EXPECT_NE(out.find("--overwrite"), std::string::npos) << out;
  EXPECT_TRUE(Exists(frame(14)));
  dc::Image text, none;
  std::string error;
  ASSERT_TRUE(dc::ReadPng(frame(10), &text, &error)) << error;
  ASSERT_EQ(Shell(In("--fps 10 --size 200x150 --from 1s --to 1.2s --png s --overwrite --no-text"), &out), 0) << out;
  EXPECT_TRUE(Exists(frame(10)) && Exists(frame(11)));
  EXPECT_FALSE(Exists(frame(12)));
  ASSERT_TRUE(dc::ReadPng(frame(10), &none, &error)) << error;
  // Only the text differs, and it does: the counter at (0, 0) and the caption
  // at (0, 100) of 800 x 600, each 16 pixels high, a quarter of that here.
  ASSERT_EQ(text.width, none.width);
  ASSERT_EQ(text.rgb.size(), none.rgb.size());
  int differing = 0;
  for (int y = 0; y < text.height; ++y)
    for (int x = 0; x < text.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t i = (size_t(y) * text.width + x) * 3 + c;
        if (text.rgb[i] == none.rgb[i]) continue;
        ++differing;
        EXPECT_TRUE(x < 40 && (y < 5 || (y >= 25 && y < 30))) << "at " << x << "," << y;
      }
  EXPECT_GT(differing, 0);
}

// The demo's debug log stays off the progress lines: in the --log file or nowhere.
TEST_F(CaptureShort, DemoLogGoesToItsFileNotBetweenTheProgressLines) {
  std::string out;
  ASSERT_EQ(Shell(In("--fps 5 --size 80x60 --to 2000 --png quiet"), &out), 0) << out;
  EXPECT_EQ(out.find("cDDraw"), std::string::npos) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.rfind("democapture: ", 0), 0u) << line;

  ASSERT_EQ(Shell(In("--fps 5 --size 80x60 --to 2000 --png logged --log demo.log"), &out), 0) << out;
  EXPECT_EQ(out.find("cDDraw"), std::string::npos) << out;
  std::ifstream in(dir_ + "/demo.log");
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_EQ(log.str().rfind("\ncDDraw constructor", 0), 0u) << log.str();
  EXPECT_NE(log.str().find("\ncDDraw destructor"), std::string::npos) << log.str();
}

TEST_F(CaptureShort, InterruptLeavesNoPartialVideo) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(99);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    dup2(null, STDOUT_FILENO);
    execl(kTool.c_str(), kTool.c_str(), "--fps", "60", "--video", "stop.mp4", static_cast<char*>(nullptr));
    _exit(98);
  }
  // Wait until the capture is under way, then interrupt it.
  for (int i = 0; i < 200 && !Exists(dir_ + "/stop.mp4.partial"); ++i) usleep(20000);
  usleep(300000);
  kill(child, SIGINT);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  // Either it was interrupted (130) or it had already finished (0).
  if (WEXITSTATUS(status) == 130) {
    EXPECT_FALSE(Exists(dir_ + "/stop.mp4"));
  } else {
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_FALSE(Exists(dir_ + "/stop.mp4.partial"));
  EXPECT_FALSE(Exists(dir_ + "/stop.mp4.partial.log"));
}

// Frames converted and written beside the drawing are the bytes the drawing
// thread writes by itself, frame for frame.
TEST_F(CaptureShort, WriterThreadsWriteTheSameFiles) {
  std::string out;
  const std::string args = "--fps 10 --to 2500 --render 400x300 --ssaa 2 --png ";
  ASSERT_EQ(Shell(In(args + "one --writers 0"), &out), 0) << out;
  ASSERT_EQ(Shell(In(args + "many --writers 3"), &out), 0) << out;
  int frames = 0;
  for (int k = 0; Exists(dir_ + "/one/frame0000" + std::to_string(k) + ".png"); ++k, ++frames) {
    const std::string name = "/frame0000" + std::to_string(k) + ".png";
    std::ifstream a(dir_ + "/one" + name, std::ios::binary), b(dir_ + "/many" + name, std::ios::binary);
    std::stringstream x, y;
    x << a.rdbuf();
    y << b.rdbuf();
    EXPECT_TRUE(x.str() == y.str()) << name;
  }
  EXPECT_EQ(frames, 10);
  EXPECT_FALSE(Exists(dir_ + "/many/frame00010.png"));
}

// One white triangle on the demo's dark blue, drawn for an 800 x 480 frame:
// the 640 x 480 picture sits between black bars 80 pixels wide. Without
// supersampling every pixel is inside or outside; with --ssaa 2 the edge
// pixels take the coverages 1/4, 2/4 and 3/4 of white, mixed in linear
// light: red and green exactly sRGB(k / 4), nothing else.
TEST_F(CaptureShort, SupersamplingSmoothsEdges) {
  vef::SceneWriter w;
  const int32_t list = w.addVertexList({{}, {}, {}, {{{-0.75f, -0.5f, 0}}, {{0.6f, -0.4f, 0}}, {{0.05f, 0.55f, 0}}}});
  vef::MaterialRecord white;
  const int32_t material = w.addMaterial(white);
  vef::MeshRecord mesh;
  mesh.faces = {{{0, 1, 2}}};
  mesh.vertexList = list;
  mesh.material = material;
  const int32_t m = w.addMesh(mesh);
  for (int frame = 0; frame < 2; ++frame) {
    vef::KeyRecord camera, key;
    camera.frame = key.frame = frame;
    camera.camera = true;
    w.addKey(camera);
    key.object = true;
    key.mesh = m;
    key.matrix = vef::MatrixBlock::Translation(0, 0, -3);
    w.addKey(key);
  }
  // Strong lights on both sides: every corner saturates to white.
  for (float z : {0.0f, -6.0f}) {
    vef::LightRecord light;
    light.intensity = 100;
    light.matrix = vef::MatrixBlock::Translation(0, 0, z);
    w.addLight(light);
  }
  std::string error;
  ASSERT_TRUE(w.writeFile(dir_ + "/triangle.2vef", &error)) << error;

  uint8_t coverage[5];  // red and green of k / 4 white, k = 0..4
  for (int k = 0; k <= 4; ++k) {
    const double l = k / 4.0;
    coverage[k] = uint8_t(std::lround(255 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055)));
  }
  for (int ssaa : {1, 2}) {
    const std::string folder = "aa" + std::to_string(ssaa);
    std::string out;
    ASSERT_EQ(Shell(In("--scene triangle.2vef --fps 1 --to 1000 --render 800x480 --ssaa " + std::to_string(ssaa) +
                       " --png " + folder),
                    &out),
              0)
        << out;
    dc::Image frame;
    ASSERT_TRUE(dc::ReadPng(dir_ + "/" + folder + "/frame00000.png", &frame, &error)) << error;
    ASSERT_EQ(frame.width, 800);
    ASSERT_EQ(frame.height, 480);
    int counts[5] = {0}, stray = 0, bars = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 800; ++x) {
        const uint8_t* p = &frame.rgb[(size_t(y) * 800 + size_t(x)) * 3];
        if (x < 80 || x >= 720) {
          bars += p[0] != 0 || p[1] != 0 || p[2] != 0;
          continue;
        }
        if (y < 40) continue;  // the printed time
        const uint8_t* k = std::find(coverage, coverage + 5, p[0]);
        if (k == coverage + 5 || p[1] != p[0]) ++stray;
        else ++counts[k - coverage];
      }
    EXPECT_EQ(bars, 0) << "ssaa " << ssaa;
    EXPECT_EQ(stray, 0) << "ssaa " << ssaa;
    EXPECT_GT(counts[0], 10000) << "background, ssaa " << ssaa;
    EXPECT_GT(counts[4], 10000) << "triangle, ssaa " << ssaa;
    for (int k = 1; k <= 3; ++k) {
      if (ssaa == 1) EXPECT_EQ(counts[k], 0) << k << "/4";
      else EXPECT_GT(counts[k], 20) << k << "/4";
    }
  }
}

// --at draws the one frame at that demo time, under the time's own name: the
// same picture as the frame of a run whose time it is.
TEST_F(CaptureShort, AtCapturesTheFrameOfThatTime) {
  dc::MusicClock clock;
  std::string error, out;
  ASSERT_TRUE(dc::OpenMusic(dir_ + "/Sound.mp3", &clock, &error)) << error;
  uint64_t first = 0, end = 0;
  clock.Range(5000, 10000, 25, &first, &end);
  const std::string t = std::to_string(clock.TimeOf(first, 25));
  char frame[32];
  std::snprintf(frame, sizeof frame, "frame%05llu.png", static_cast<unsigned long long>(first));
  ASSERT_EQ(Shell(In("--from " + t + " --to " + std::to_string(std::stoi(t) + 1) + " --png run"), &out), 0) << out;
  ASSERT_EQ(Shell(In("--at " + t + " --png at"), &out), 0) << out;
  ASSERT_EQ(Shell("ls '" + dir_ + "/at'", &out), 0);
  char named[32];
  std::snprintf(named, sizeof named, "frame%05d.png\n", std::stoi(t));
  EXPECT_EQ(out, named);
  EXPECT_EQ(Shell("cd '" + dir_ + "' && cmp run/" + frame + " at/" + std::string(named, std::strlen(named) - 1), &out), 0)
      << out;
}

TEST_F(CaptureShort, TracePrintsEveryFlushAndPrint) {
  std::string out;
  ASSERT_EQ(Shell(In("--trace 5000 2>/dev/null"), &out), 0);
  EXPECT_NE(out.find("Frame time=5000"), std::string::npos);
  EXPECT_NE(out.find("Print colour=0x000000 x=0 y=0 text=\"5000\""), std::string::npos) << out.substr(0, 400);
  // Each Flush line announces n triangles, followed by exactly 3n vertex lines.
  std::istringstream lines(out);
  std::string line;
  int flushes = 0, expected = 0, vertices = 0;
  while (std::getline(lines, line)) {
    int t0, t1, n;
    if (std::sscanf(line.c_str(), "Flush textures=%d,%d triangles=%d", &t0, &t1, &n) == 3) {
      EXPECT_EQ(vertices, expected);
      ++flushes;
      expected = 3 * n;
      vertices = 0;
    } else if (line.rfind("  [", 0) == 0) {
      ++vertices;
    }
  }
  EXPECT_EQ(vertices, expected);
  EXPECT_GT(flushes, 3);
}

}  // namespace
