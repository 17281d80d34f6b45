// The real program, headless: it plays a 3-second demo to the end by itself,
// and refuses to start without its scene.
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

#include "DemoContent.h"

extern char** environ;

namespace {

const char* const kProgram = DEMO_BINARY_DIR "/src/demo";

struct Outcome {
  bool exited = false;  // ended by itself (not killed on time-out)
  int code = -1;
  double seconds = 0;
  std::string errors;   // standard error
};

// Runs the demo in `folder` with SDL's dummy drivers; kills it after `limit`.
Outcome RunDemo(const std::string& folder, double limit) {
  Outcome out;
  std::string errFile = folder + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::string dir = folder;
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  char* argv[] = {const_cast<char*>(kProgram), nullptr};
  std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(folder);
  pid_t pid = 0;
  auto start = std::chrono::steady_clock::now();
  int spawned = posix_spawn(&pid, kProgram, &actions, nullptr, argv, environ);
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
  std::ifstream in(errFile);
  std::stringstream text;
  text << in.rdbuf();
  out.errors = text.str();
  return out;
}

TEST(Program, PlaysToTheEndByItselfAndExitsZero) {
  std::string folder = devtest::MakeContentFolder(true, true);
  ASSERT_FALSE(folder.empty());
  // The music is the clock: the demo ends at 99.5 % of it. How soon after is a
  // matter of machine load (measured, not asserted); the limit only catches a
  // run that never ends.
  Outcome out = RunDemo(folder, 60.0);
  EXPECT_TRUE(out.exited) << "killed after " << out.seconds << " s\n" << out.errors.substr(0, 2000);
  EXPECT_EQ(out.code, 0) << out.errors.substr(0, 2000);
  // It really played: well over two seconds of frames, and the tear-down ran.
  EXPECT_GT(out.seconds, devtest::kMusicSeconds * 0.9);
  EXPECT_NE(out.errors.find("\nD3DRenderer destruktor\nRenderer destruktor\ncDirect3D "
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
  EXPECT_NE(out.errors.find("scene.2vef: the scene cannot be played"), std::string::npos)
      << out.errors;
  devtest::RemoveFolder(folder);
}

}  // namespace
