// vef::ReadRecords - walks the records of a scene file without building a
// Scene, for tools that show what a file holds (vefdump).
//
// The walk follows the same layout rules as the importer (SceneFormat.h) and
// never reads outside the given bytes. It stops at the first point where the
// layout can no longer be followed: a record cut by the end of the file, or a
// count that the rest of the file cannot hold. Whether the file is playable is
// the importer's verdict (Scene::isPlayable); the walk only reports what it saw.
#ifndef VEF_SCENEREADER_H
#define VEF_SCENEREADER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace vef {

struct FileHeader {
  uint32_t frameCount = 0;
  int32_t meshes = 0, vertexLists = 0;
  uint32_t cameras = 0;
  int32_t objectKeys = 0, materials = 0, uvLists = 0, textures = 0, lights = 0;
  int32_t recordTableSize = 0;
};

struct RecordInfo {
  uint64_t offset = 0;  // of the type byte, from the start of the file
  uint64_t size = 0;    // bytes including the 6-byte record header
  uint8_t type = 0;     // 1..7, anything else is unknown
  uint8_t flags = 0;
  int32_t index = 0;
  std::string summary;  // what the record holds, one line
  std::string problem;  // "" or what is wrong with it
};

struct FileListing {
  bool hasHeader = false;  // false: fewer than 40 bytes
  FileHeader header;
  std::vector<RecordInfo> records;
  std::vector<std::string> problems;  // every problem, including those of records
};

// The header and every record of `bytes`.
FileListing ReadRecords(const std::vector<uint8_t>& bytes);

// Reads a whole file; false (with `error` set) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* error);

// Name of a record type ("mesh", "vertex list", ...; "unknown" outside 1..7).
const char* RecordTypeName(uint8_t type);

}  // namespace vef

#endif
