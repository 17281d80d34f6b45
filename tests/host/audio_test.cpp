// The audio library on MP3 files made here from a generated tone.
#include <bass.h>
#include <gtest/gtest.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "audio/Mp3Frames.h"
#include "standin/audio.h"

namespace {

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "host_audio_" + std::to_string(::getpid()) + "_" + name;
}

void Put32(std::ofstream& f, uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); }
void Put16(std::ofstream& f, uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); }

// Encodes `frames` frames of a 440 Hz tone with the lame tool; returns the MP3's path.
std::string MakeTone(const std::string& name, int rate, int channels, int frames) {
  const std::string wav = TempPath(name + ".wav"), mp3 = TempPath(name + ".mp3");
  {
    std::ofstream f(wav, std::ios::binary);
    const uint32_t bytes = static_cast<uint32_t>(frames * channels * 2);
    f.write("RIFF", 4);
    Put32(f, 36 + bytes);
    f.write("WAVEfmt ", 8);
    Put32(f, 16);
    Put16(f, 1);
    Put16(f, static_cast<uint16_t>(channels));
    Put32(f, static_cast<uint32_t>(rate));
    Put32(f, static_cast<uint32_t>(rate * channels * 2));
    Put16(f, static_cast<uint16_t>(channels * 2));
    Put16(f, 16);
    f.write("data", 4);
    Put32(f, bytes);
    for (int i = 0; i < frames; ++i) {
      auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * i / rate));
      for (int c = 0; c < channels; ++c) Put16(f, static_cast<uint16_t>(c == 0 ? v : -v));
    }
  }
  const std::string command = "lame --quiet -b 128 " + std::string(channels == 1 ? "-m m " : "") +
                              "'" + wav + "' '" + mp3 + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::remove(wav.c_str());
  return mp3;
}

// The file's PCM as libmpg123 decodes it on its own, 16-bit; with `gapless`
// false, untrimmed, as a codec that knows nothing of the file decodes it.
std::vector<uint8_t> DecodeIndependently(const std::string& path, bool gapless = true) {
  mpg123_handle* h = mpg123_new(nullptr, nullptr);
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  if (!gapless) mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
  mpg123_format_none(h);
  const long* rates;
  size_t count;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i)
    mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  std::vector<uint8_t> pcm;
  if (mpg123_open(h, path.c_str()) == MPG123_OK) {
    unsigned char buffer[16384];
    size_t done = 0;
    int rc;
    do {
      rc = mpg123_read(h, buffer, sizeof buffer, &done);
      pcm.insert(pcm.end(), buffer, buffer + done);
    } while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT);
  }
  mpg123_delete(h);
  return pcm;
}

int64_t g_now = 0;
int64_t FakeClock() { return g_now; }
constexpr int64_t kSecond = 1000000000;

class AudioTest : public ::testing::Test {
 protected:
  void TearDown() override {
    standin::AudioShutdown();
    standin::SetAudioClock(nullptr);
  }
};

TEST_F(AudioTest, LengthIsTheDecodedSampleCountInBytes) {
  const std::string mp3 = MakeTone("len", 44100, 2, 88200);
  ASSERT_TRUE(BASS_Init(-2, 44100, 0, nullptr));
  HSTREAM s = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0);
  ASSERT_NE(s, 0u);
  const std::vector<uint8_t> pcm = DecodeIndependently(mp3);
  ASSERT_FALSE(pcm.empty());
  EXPECT_EQ(BASS_StreamGetLength(s), pcm.size());
  // Gapless trimming gives back exactly the frames that were encoded.
  EXPECT_EQ(BASS_StreamGetLength(s), 88200u * 4);
  // The same file from memory.
  std::ifstream f(mp3, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  HSTREAM m = BASS_StreamCreateFile(TRUE, bytes.data(), 0, static_cast<DWORD>(bytes.size()), 0);
  ASSERT_NE(m, 0u);
  EXPECT_EQ(BASS_StreamGetLength(m), 88200u * 4);
  std::remove(mp3.c_str());
}

TEST_F(AudioTest, PositionGrowsAtTheStreamsByteRateAndLoops) {
  const std::string stereo = MakeTone("pos2", 44100, 2, 88200);  // 2 s
  const std::string mono = MakeTone("pos1", 22050, 1, 22050);    // 1 s
  g_now = 5 * kSecond;
  standin::SetAudioClock(FakeClock);
  ASSERT_TRUE(BASS_Init(-2, 44100, 0, nullptr));
  EXPECT_TRUE(standin::AudioIsSilent());
  HSTREAM a = BASS_StreamCreateFile(FALSE, stereo.c_str(), 0, 0, 0);
  HSTREAM b = BASS_StreamCreateFile(FALSE, mono.c_str(), 0, 0, 0);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(BASS_StreamGetLength(b), 22050u * 2);
  ASSERT_TRUE(BASS_Start());
  EXPECT_EQ(BASS_ChannelGetPosition(a), 0u);  // not playing yet
  ASSERT_TRUE(BASS_StreamPlay(a, FALSE, BASS_SAMPLE_LOOP));
  ASSERT_TRUE(BASS_StreamPlay(b, FALSE, 0));
  EXPECT_EQ(BASS_ChannelGetPosition(a), 0u);
  g_now += kSecond / 2;
  EXPECT_EQ(BASS_ChannelGetPosition(a), 88200u);  // 0.5 s x 44100 x 4 bytes
  EXPECT_EQ(BASS_ChannelGetPosition(b), 22050u);  // 0.5 s x 22050 x 2 bytes
  g_now += kSecond / 4;
  EXPECT_EQ(BASS_ChannelGetPosition(a), 132300u);
  // Past the end: the looping stream starts over, the other stays at its end.
  g_now += kSecond * 3 / 2;  // 2.25 s in all
  EXPECT_EQ(BASS_ChannelGetPosition(a), 44100u);
  EXPECT_EQ(BASS_ChannelGetPosition(b), BASS_StreamGetLength(b));
  // A clock that steps back does not take the position back.
  g_now -= kSecond / 10;
  EXPECT_EQ(BASS_ChannelGetPosition(a), 44100u);
  std::remove(stereo.c_str());
  std::remove(mono.c_str());
}

TEST_F(AudioTest, OutputIsHandedExactlyTheDecodedBytesAndRepeatsThem) {
  const std::string mp3 = MakeTone("out", 44100, 2, 44100);  // 1 s
  const std::string capture = TempPath("capture.raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
  ASSERT_FALSE(standin::AudioIsSilent());
  HSTREAM s = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0);
  ASSERT_NE(s, 0u);
  ASSERT_TRUE(BASS_Start());
  ASSERT_TRUE(BASS_StreamPlay(s, FALSE, BASS_SAMPLE_LOOP));
  const std::vector<uint8_t> pcm = DecodeIndependently(mp3);
  ASSERT_EQ(pcm.size(), BASS_StreamGetLength(s));
  // Wait for the disk driver to have written two passes and some more.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  DWORD position = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    position = BASS_ChannelGetPosition(s);
    struct stat st{};
    if (::stat(capture.c_str(), &st) == 0 &&
        static_cast<size_t>(st.st_size) > 3 * pcm.size() + (1u << 20))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_LT(position, pcm.size());
  standin::AudioShutdown();
  unsetenv("SDL_AUDIODRIVER");

  std::ifstream f(capture, std::ios::binary);
  std::vector<uint8_t> out((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::remove(capture.c_str());
  std::remove(mp3.c_str());
  ASSERT_GT(out.size(), 2 * pcm.size());
  // Silence until the stream starts, then the stream, then the stream again.
  auto found = std::search(out.begin(), out.end(), pcm.begin(), pcm.begin() + 4096);
  ASSERT_NE(found, out.end());
  const size_t start = static_cast<size_t>(found - out.begin());
  EXPECT_EQ(start % 4, 0u);  // whole frames
  EXPECT_TRUE(std::all_of(out.begin(), found, [](uint8_t b) { return b == 0; }));
  ASSERT_LE(start + 2 * pcm.size(), out.size());
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), out.begin() + static_cast<ptrdiff_t>(start)));
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(),
                         out.begin() + static_cast<ptrdiff_t>(start + pcm.size())));
}

TEST_F(AudioTest, AMonoStreamAtHalfTheRatePlaysAtItsOwnSpeedOnBothChannels) {
  const std::string mp3 = MakeTone("conv", 22050, 1, 22050);  // 1 s
  const std::string capture = TempPath("conv.raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
  HSTREAM s = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0);
  ASSERT_NE(s, 0u);
  ASSERT_TRUE(BASS_StreamPlay(s, FALSE, 0));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    struct stat st{};
    if (::stat(capture.c_str(), &st) == 0 && st.st_size > 4 * 44100 * 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  standin::AudioShutdown();
  unsetenv("SDL_AUDIODRIVER");
  std::ifstream f(capture, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::remove(capture.c_str());
  std::remove(mp3.c_str());
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  // The sound lasts one second of output frames, and left equals right.
  size_t first = out.size(), last = 0;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    EXPECT_EQ(out[i], out[i + 1]) << "frame " << i / 2;
    if (out[i] != 0) {
      first = std::min(first, i / 2);
      last = i / 2;
    }
    if (::testing::Test::HasFailure()) break;
  }
  ASSERT_LT(first, last);
  EXPECT_NEAR(static_cast<double>(last - first + 1), 44100.0, 64.0);
}

TEST_F(AudioTest, FailuresReturnTheLibrarysErrorValuesAndNameTheFile) {
  EXPECT_EQ(BASS_StreamCreateFile(FALSE, "Sound.mp3", 0, 0, 0), 0u);
  EXPECT_EQ(standin::AudioLastError(), standin::kAudioErrorInit);
  EXPECT_FALSE(BASS_Start());
  ASSERT_TRUE(BASS_Init(-2, 44100, 0, nullptr));
  EXPECT_FALSE(BASS_Init(-2, 44100, 0, nullptr));
  EXPECT_EQ(standin::AudioLastError(), standin::kAudioErrorAlready);

  const std::string missing = TempPath("missing.mp3");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(BASS_StreamCreateFile(FALSE, missing.c_str(), 0, 0, 0), 0u);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(missing), std::string::npos) << err;
  EXPECT_EQ(standin::AudioLastError(), standin::kAudioErrorFileOpen);

  const std::string text = TempPath("text.mp3");
  {
    std::ofstream f(text);
    f << "This is not an MP3 file, just some words.\n";
  }
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(BASS_StreamCreateFile(FALSE, text.c_str(), 0, 0, 0), 0u);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(text), std::string::npos) << err;
  EXPECT_EQ(standin::AudioLastError(), standin::kAudioErrorFileForm);
  std::remove(text.c_str());

  // What the demo's clock then computes with.
  EXPECT_EQ(BASS_StreamGetLength(0), 0xFFFFFFFFu);
  EXPECT_EQ(BASS_ChannelGetPosition(0), 0xFFFFFFFFu);
  EXPECT_FALSE(BASS_StreamPlay(0, FALSE, BASS_SAMPLE_LOOP));
  EXPECT_EQ(standin::AudioLastError(), standin::kAudioErrorHandle);
}

// The framing the Windows library decodes by: its length and trimming must
// give libmpg123's gapless stream, for each MPEG version and channel count,
// with and without an ID3v2 tag in front.
TEST(Mp3Frames, TrimmingTheUntrimmedDecodeGivesTheGaplessStream) {
  struct Case {
    int rate, channels, frames;
    bool id3;
  } cases[] = {{44100, 2, 100000, false}, {22050, 1, 30000, true}, {8000, 2, 9000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
    std::string mp3 = MakeTone("frames", c.rate, c.channels, c.frames);
    std::ifstream f(mp3, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (c.id3) {
      const uint8_t tag[16] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 6, 'T', 'I', 'T', '2', 0, 0};
      bytes.insert(bytes.begin(), tag, tag + sizeof tag);
      std::ofstream(mp3, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    }
    standin::Mp3Layout layout;
    std::string error;
    ASSERT_TRUE(standin::ScanMp3(bytes.data(), bytes.size(), &layout, &error)) << error;
    EXPECT_EQ(layout.rate, c.rate);
    EXPECT_EQ(layout.channels, c.channels);
    EXPECT_EQ(layout.length, static_cast<uint64_t>(c.frames));  // what was encoded

    const std::vector<uint8_t> gapless = DecodeIndependently(mp3);
    const std::vector<uint8_t> raw = DecodeIndependently(mp3, false);
    const size_t frameBytes = static_cast<size_t>(c.channels) * 2;
    ASSERT_EQ(gapless.size(), layout.length * frameBytes);
    ASSERT_EQ(raw.size(), layout.frames.size() * layout.samplesPerFrame * frameBytes);
    ASSERT_LE((layout.skip + layout.length) * frameBytes, raw.size());
    EXPECT_TRUE(std::equal(gapless.begin(), gapless.end(),
                           raw.begin() + static_cast<ptrdiff_t>(layout.skip * frameBytes)));
    std::remove(mp3.c_str());
  }
  standin::Mp3Layout layout;
  std::string error;
  const uint8_t junk[] = "no frames here, only text";
  EXPECT_FALSE(standin::ScanMp3(junk, sizeof junk, &layout, &error));
  EXPECT_NE(error.find("no MPEG layer 3"), std::string::npos) << error;
}

}  // namespace
