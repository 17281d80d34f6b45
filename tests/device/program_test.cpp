// The real program, headless: it plays a 3-second demo to the end by itself,
// refuses to start without its scene, and reads the host's command line.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DemoContent.h"

extern char** environ;

namespace {

const char* const kProgram = DEMO_BINARY_DIR "/src/demo";

struct Outcome {
  bool exited = false;  // ended by itself (not killed on time-out)
  int code = -1;
  double seconds = 0;
  std::string errors;   // standard error
  std::string output;   // standard output
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the demo in `folder` with SDL's dummy drivers and the given options;
// kills it after `limit`.
Outcome RunDemo(const std::string& folder, double limit, std::vector<std::string> args = {}) {
  Outcome out;
  std::string errFile = folder + "/stderr.txt", outFile = folder + "/stdout.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::string dir = folder;
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::vector<char*> argv{const_cast<char*>(kProgram)};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(folder);
  pid_t pid = 0;
  auto start = std::chrono::steady_clock::now();
  int spawned = posix_spawn(&pid, kProgram, &actions, nullptr, argv.data(), environ);
  std::filesystem::current_path(cwd);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    out.errors = "cannot start " + std::string(kProgram);
    return out;
  }
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    out.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (done == pid) break;
    if (out.seconds > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  out.exited = WIFEXITED(status);
  if (out.exited) out.code = WEXITSTATUS(status);
  out.errors = ReadFile(errFile);
  out.output = ReadFile(outFile);
  return out;
}

TEST(Program, PlaysToTheEndByItselfAndExitsZero) {
  std::string folder = devtest::MakeContentFolder(true, true);
  ASSERT_FALSE(folder.empty());
  // The music is the clock: the demo ends at 99.5 % of it. How soon after is a
  // matter of machine load (measured, not asserted); the limit only catches a
  // run that never ends.
  // Started elsewhere with the folder named; the debug log goes to a file and
  // the terminal stays quiet.
  const std::string log = folder + "/debug.log";
  Outcome out = RunDemo("/", 60.0, {"--log", log, folder});
  EXPECT_TRUE(out.exited) << "killed after " << out.seconds << " s\n" << out.errors.substr(0, 2000);
  EXPECT_EQ(out.code, 0) << out.errors.substr(0, 2000);
  EXPECT_EQ(out.errors, "");
  // It really played: well over two seconds of frames, and the tear-down ran.
  EXPECT_GT(out.seconds, devtest::kMusicSeconds * 0.9);
  EXPECT_NE(ReadFile(log).find("\nD3DRenderer destruktor\nRenderer destruktor\ncDirect3D "
                               "destruktor\ncDDraw destructor"),
            std::string::npos);
  printf("demo ran %.2f s for %d s of music\n", out.seconds, devtest::kMusicSeconds);
  devtest::RemoveFolder(folder);
}

TEST(Program, WithoutTheSceneItExitsTwoWithAClearMessage) {
  std::string folder = devtest::MakeContentFolder(false, true);
  ASSERT_FALSE(folder.empty());
  Outcome out = RunDemo(folder, 20.0);
  EXPECT_TRUE(out.exited);
  EXPECT_EQ(out.code, 2);
  // One line, the file named once; the debug log stays hidden.
  EXPECT_EQ(out.errors,
            "scene.2vef: the scene cannot be played: cannot open: No such file or directory\n");
  // --verbose shows the debug log as well.
  out = RunDemo(folder, 20.0, {"--verbose"});
  EXPECT_EQ(out.code, 2);
  EXPECT_NE(out.errors.find("cDDraw destructor"), std::string::npos) << out.errors;
  devtest::RemoveFolder(folder);
}

// The host's options that end at once: what they print, where, and the exit code.
TEST(Program, AnswersHelpVersionAndWrongOptionsTheGnuWay) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* output;  // standard output contains this ("" for none)
    const char* errors;  // standard error is exactly this
  } cases[] = {
      {{"--help"}, 0, "Usage: demo [OPTION]... [DIR]", ""},
      {{"--version"}, 0, "demo 1.", ""},
      {{"--bogus"}, 2, "", "demo: unknown option '--bogus'\nTry 'demo --help'.\n"},
      {{"--scale", "huge"}, 2, "", "demo: --scale takes fit, integer or stretch, not 'huge'\nTry 'demo --help'.\n"},
      {{"--log"}, 2, "", "demo: --log needs a value\nTry 'demo --help'.\n"},
      {{"--window=yes"}, 2, "", "demo: --window takes no value\nTry 'demo --help'.\n"},
      {{"/no/such/folder"}, 2, "", "/no/such/folder: cannot enter the folder: No such file or directory\n"},
  };
  std::string folder = devtest::MakeContentFolder(false, false);
  ASSERT_FALSE(folder.empty());
  for (const Case& c : cases) {
    Outcome out = RunDemo(folder, 20.0, c.args);
    EXPECT_EQ(out.code, c.code) << c.args[0];
    EXPECT_EQ(out.errors, c.errors) << c.args[0];
    if (*c.output == '\0') {
      EXPECT_EQ(out.output, "") << c.args[0];
    } else {
      EXPECT_NE(out.output.find(c.output), std::string::npos) << c.args[0] << ": " << out.output;
    }
  }
  devtest::RemoveFolder(folder);
}

}  // namespace
