// The command-line convention shared by the five programs: --opt=value,
// a usage error as one line and a "Try" line with exit 2, extra operands
// refused, --version with the commit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

struct Result {
  int code = -1;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Result RunProgram(const std::string& program, const std::string& args) {
  static const char* const kPaths[][2] = {
      {"demo", "/src/demo"},
      {"vefdump", "/tools/vefdump/vefdump"},
      {"demogen", "/tools/demogen/demogen"},
      {"democapture", "/tools/democapture/democapture"},
      {"vefexport", "/tools/vefexport/vefexport"},
  };
  std::string path;
  for (const auto& p : kPaths)
    if (program == p[0]) path = std::string(DEMO_BINARY_DIR) + p[1];
  const std::string base = std::string(::testing::TempDir()) + "cli-" + std::to_string(getpid());
  // Run from an empty folder, so that nothing there is taken as content.
  const std::string command = "mkdir -p '" + base + ".d' && cd '" + base + ".d' && SDL_VIDEODRIVER=dummy " +
                              "SDL_AUDIODRIVER=dummy " + path + " " + args + " >'" + base + ".out' 2>'" + base +
                              ".err' </dev/null";
  Result r;
  const int status = std::system(command.c_str());
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadAll(base + ".out");
  r.err = ReadAll(base + ".err");
  std::system(("rm -rf '" + base + ".d' '" + base + ".out' '" + base + ".err'").c_str());
  return r;
}

TEST(CommandLine, EveryProgramFollowsTheConvention) {
  struct Case {
    const char* program;
    const char* args;
    const char* problem;  // the first line after "PROGRAM: "; null: no usage error
  } cases[] = {
      // Unknown options and values where none belong.
      {"demo", "--bogus", "unknown option '--bogus'"},
      {"vefdump", "--bogus f", "unknown option '--bogus'"},
      {"demogen", "--bogus d", "unknown option '--bogus'"},
      {"democapture", "--bogus --png d", "unknown option '--bogus'"},
      {"vefexport", "--bogus m -o x", "unknown option '--bogus'"},
      {"demo", "--window=yes", "--window takes no value"},
      {"vefdump", "--all=1 f", "--all takes no value"},
      {"vefexport", "--loop=1 m -o x", "--loop takes no value"},
      // A value missing at the end.
      {"demo", "--scale", "--scale needs a value"},
      {"demogen", "--bars", "--bars needs a value"},
      {"democapture", "--png", "--png needs a value"},
      {"vefexport", "m --fps", "--fps needs a value"},
      // Extra operands.
      {"demo", "dir1 dir2", "one content folder at most: 'dir1' and 'dir2'"},
      {"vefdump", "a.2vef b.2vef", "one file at most: 'a.2vef' and 'b.2vef'"},
      {"demogen", "d1 d2", "one output folder at most: 'd1' and 'd2'"},
      {"democapture", "--png d extra", "unexpected argument 'extra'"},
      {"vefexport", "a.gltf b.gltf -o x", "more than one model given: a.gltf, b.gltf"},
      // Nothing to work on.
      {"vefdump", "", "no scene file given"},
      {"demogen", "", "no output folder given"},
      // Both forms of a value are read alike: a bad value is named either way.
      {"demo", "--scale=huge", "--scale takes fit, integer or stretch, not 'huge'"},
      {"demo", "--render 1600", "--render takes native or WIDTHxHEIGHT (1 to 8192 each), not '1600'"},
      {"demo", "--ssaa=0", "--ssaa takes a number from 1 to 4, not '0'"},
      {"demo", "--render 3000x2000 --ssaa 3", "--render with --ssaa 3 draws more than 8192 pixels a side"},
      {"demogen", "--bars=99 d", "--bars: '99' is not a number from 2 to 36"},
      {"democapture", "--fps=0 --png d", "--fps: '0' is not a number from 1 to 240"},
      {"vefexport", "m -o x --fps=-1", "--fps -1: frames per second must be above 0 and at most 1000"},
      // A good value in '=' form parses, and --version then answers.
      {"demo", "--scale=integer --log=x.log --version", nullptr},
      {"demo", "--render=native --ssaa 4 --version", nullptr},
      {"demogen", "--bars=4 --version", nullptr},
      {"democapture", "--fps=50 --png=d --version", nullptr},
      {"vefexport", "--fps=50 --output=x --version", nullptr},
      {"vefdump", "--version", nullptr},
  };
  const std::regex version(R"(^(\w+) \d+\.\d+\.\d+ \(commit [0-9a-z, ]+\)\n$)");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + c.args);
    const Result r = RunProgram(c.program, c.args);
    if (c.problem != nullptr) {
      EXPECT_EQ(r.code, 2);
      EXPECT_EQ(r.err, std::string(c.program) + ": " + c.problem + "\nTry '" + c.program + " --help'.\n");
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_EQ(r.code, 0) << r.err;
      std::smatch m;
      EXPECT_TRUE(std::regex_match(r.out, m, version)) << r.out;
      EXPECT_EQ(m.size() > 1 ? m[1].str() : "", c.program);
    }
  }
}

}  // namespace
