// The scene-file library: the record listing, atomic writing, and vefdump's
// exit codes.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "SceneFormat.h"
#include "SceneReader.h"
#include "SceneTestUtil.h"

TEST(ReadRecordsTest, ListsTheSampleRecordByRecord) {
  const vef::FileListing l = vef::ReadRecords(vef::TwoFrameSample());
  ASSERT_TRUE(l.hasHeader);
  EXPECT_EQ(l.header.frameCount, 2u);
  EXPECT_EQ(l.header.cameras, 2u);
  EXPECT_EQ(l.header.recordTableSize, 9);
  ASSERT_EQ(l.records.size(), 8u);
  EXPECT_TRUE(l.problems.empty());
  const uint64_t offsets[8] = {40, 86, 92, 116, 130, 160, 174, 204};
  const uint8_t types[8] = {2, 4, 1, 3, 3, 3, 3, 7};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(l.records[i].offset, offsets[i]);
    EXPECT_EQ(l.records[i].type, types[i]);
    EXPECT_EQ(l.records[i].index, i + 1);
  }
  EXPECT_EQ(l.records[7].size, 25u);
  EXPECT_EQ(l.records[4].summary, "object key, frame 0, mesh 3, translation (0, 0, -10)");
  EXPECT_EQ(l.records[1].summary, "colour0 white, diffuse white, colour2 white");
}

TEST(ReadRecordsTest, ReportsCutsUnknownTypesAndImpossibleCounts) {
  std::vector<uint8_t> cut = vef::TwoFrameSample();
  cut.resize(220);
  vef::FileListing l = vef::ReadRecords(cut);
  ASSERT_EQ(l.records.size(), 8u);
  EXPECT_EQ(l.records[7].problem, "cut by the end of the file: dropped");

  BaseScene base;
  base.w.addRaw({9, 0, 0, 0, 0, 0});
  base.w.addRaw({2, 0, 5, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  l = vef::ReadRecords(base.w.bytes());
  ASSERT_GE(l.records.size(), 2u);
  EXPECT_NE(l.records[l.records.size() - 2].problem.find("unknown VornExportFileID 9"), std::string::npos);
  EXPECT_NE(l.records.back().problem.find("vertex count 4294967295 needs"), std::string::npos);
  EXPECT_EQ(l.problems.size(), 2u);

  l = vef::ReadRecords({1, 2, 3});
  EXPECT_FALSE(l.hasHeader);
  EXPECT_EQ(l.problems.size(), 1u);
}

TEST(WriteFileTest, ReplacesAtomicallyAndFailsCleanly) {
  const std::string path = TempPath("atomic.2vef");
  std::string error;
  ASSERT_TRUE(vef::WriteFileAtomically(path, {1, 2, 3}, &error)) << error;
  ASSERT_TRUE(vef::WriteFileAtomically(path, vef::TwoFrameSample(), &error)) << error;
  std::vector<uint8_t> back;
  ASSERT_TRUE(vef::ReadWholeFile(path, &back, &error)) << error;
  EXPECT_EQ(back, vef::TwoFrameSample());
  std::remove(path.c_str());

  EXPECT_FALSE(vef::WriteFileAtomically("/nonexistent-dir/x.2vef", {1}, &error));
  EXPECT_EQ(error.rfind("/nonexistent-dir/x.2vef: cannot create temporary file", 0), 0u) << error;
}

namespace {

// Runs vefdump on `bytes`; returns its exit code and its standard output.
int RunVefdump(const std::vector<uint8_t>& bytes, const std::string& option, std::string* out) {
  const std::string tool = std::string(DEMO_BINARY_DIR) + "/tools/vefdump/vefdump";
  struct stat st;
  if (stat(tool.c_str(), &st) != 0) {
    ADD_FAILURE() << "vefdump is not built at " << tool;
    return -1;
  }
  const std::string file = TempPath("dump.2vef"), output = TempPath("dump.out");
  EXPECT_TRUE(vef::WriteFileAtomically(file, bytes));
  const std::string command = tool + " " + option + " " + file + " >" + output + " 2>/dev/null";
  const int status = std::system(command.c_str());
  std::vector<uint8_t> text;
  vef::ReadWholeFile(output, &text, nullptr);
  out->assign(text.begin(), text.end());
  std::remove(file.c_str());
  std::remove(output.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(VefdumpTest, ExitCodesAndOutput) {
  std::string out;
  EXPECT_EQ(RunVefdump(vef::TwoFrameSample(), "", &out), 0);
  EXPECT_NE(out.find("@204 light       flags 0x14 index 8: colour (255, 255, 255), intensity 1, translation (0, 0, 0)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("playable: 2 frames"), std::string::npos) << out;

  EXPECT_EQ(RunVefdump(vef::TwoFrameSample(), "--json", &out), 0);
  EXPECT_EQ(out.rfind("{\"header\":{\"frameCount\":2,", 0), 0u) << out;

  std::vector<uint8_t> refused = vef::TwoFrameSample();
  refused.resize(150);
  EXPECT_EQ(RunVefdump(refused, "", &out), 2);
  EXPECT_NE(out.find("refused: "), std::string::npos) << out;
  EXPECT_EQ(RunVefdump(refused, "--json", &out), 2);
  EXPECT_EQ(out, "");
}

TEST(VefdumpTest, AFileThatIsNoSceneListsOnlyItsFirstProblems) {
  // Text read as a scene: a broken record every few bytes.
  std::vector<uint8_t> text(40, 0);
  for (int i = 0; i < 400; ++i) {
    for (const char c : std::string("not a scene; ")) text.push_back(static_cast<uint8_t>(c));
  }
  std::string capped, all;
  EXPECT_EQ(RunVefdump(text, "", &capped), 2);
  EXPECT_EQ(RunVefdump(text, "--all", &all), 2);
  const auto lines = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
  EXPECT_LT(lines(capped), 50) << capped;
  EXPECT_GT(lines(all), 500);
  EXPECT_NE(capped.find(" not listed (vefdump --all lists every one)"), std::string::npos) << capped;
  EXPECT_EQ(all.find("not listed"), std::string::npos);
  EXPECT_NE(capped.find("refused: "), std::string::npos) << capped;
}
