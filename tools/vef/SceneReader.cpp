#include "SceneReader.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "SceneFormat.h"

namespace vef {

namespace fmt = SceneFormat;

namespace {

// Bounds-checked little-endian reads; after a short read every read fails.
struct Cursor {
  const uint8_t* data;
  uint64_t size;
  uint64_t pos = 0;
  bool ok = true;

  uint64_t left() const { return pos < size ? size - pos : 0; }
  bool skip(uint64_t n) {
    if (!ok || n > left()) return ok = false;
    pos += n;
    return true;
  }
  uint32_t u32() {
    if (!ok || left() < 4) {
      ok = false;
      return 0;
    }
    uint32_t v = data[pos] | (data[pos + 1] << 8) | (data[pos + 2] << 16) | (uint32_t(data[pos + 3]) << 24);
    pos += 4;
    return v;
  }
  uint8_t u8() {
    if (!ok || left() < 1) {
      ok = false;
      return 0;
    }
    return data[pos++];
  }
  float f32() {
    uint32_t v = u32();
    float f;
    std::memcpy(&f, &v, 4);
    return f;
  }
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string MatrixSummary(Cursor& c, uint8_t flags) {
  std::string s;
  const char* names[3] = {"rotation", "scale", "translation"};
  for (int part = 0; part < 3; ++part) {
    if (flags & (1 << part)) {
      float a = c.f32(), b = c.f32(), d = c.f32();
      s += Format(" %s (%g, %g, %g)", names[part], a, b, d);
    }
  }
  return s.empty() ? " no matrix parts" : s;
}

// Summary of one record's payload; leaves the cursor after it. Sets `stop`
// when a count cannot fit the file (the walk cannot go on).
std::string Payload(Cursor& c, uint8_t type, uint8_t flags, std::string* problem, bool* stop) {
  auto tooLarge = [&](const char* what, long long count, uint64_t bytes) {
    *problem = Format("%s %lld needs %llu bytes, %llu left", what, count, (unsigned long long)bytes,
                      (unsigned long long)c.left());
    *stop = true;
    return std::string();
  };
  switch (type) {
    case fmt::kMesh: {
      int32_t faces = static_cast<int32_t>(c.u32());
      const uint64_t per = fmt::MeshIndexBytes(flags);
      if (faces < 0) {
        *problem = Format("face count %d is negative", faces);
        *stop = true;
        return "";
      }
      if (per * faces > c.left()) return tooLarge("face count", faces, per * faces);
      c.skip(per * faces);
      std::string s = Format("%d faces, %s indices", faces, per == 3 ? "8-bit" : "16-bit");
      if (flags & fmt::kMeshVertexList) s += Format(", vertex list %d", static_cast<int32_t>(c.u32()));
      if (flags & fmt::kMeshMaterialRuns) {
        uint32_t runs = c.u32();
        const uint64_t runBytes = uint64_t(fmt::kMaterialRunBytes) * runs;
        if (runBytes > c.left()) return tooLarge("material run count", runs, runBytes);
        s += Format(", %u material runs:", runs);
        uint64_t covered = 0;
        for (uint32_t r = 0; r < runs && c.ok; ++r) {
          uint32_t length = c.u32();
          int32_t material = static_cast<int32_t>(c.u32());
          covered += length;
          if (r < 8) s += Format(" %u x %d", length, material);
        }
        if (runs > 8) s += " ...";
        if (covered > static_cast<uint64_t>(faces)) {
          *problem = Format("material runs cover %llu faces, the mesh has %d", (unsigned long long)covered, faces);
        }
      } else {
        s += Format(", material %d", static_cast<int32_t>(c.u32()));
      }
      if (flags & fmt::kMeshUVs) {
        s += Format(", UV list %d", static_cast<int32_t>(c.u32()));
        const uint64_t uvBytes = uint64_t(fmt::kMeshUVIndexBytes) * uint64_t(faces);
        if (uvBytes > c.left()) return tooLarge("face count (UV indices)", faces, uvBytes);
        c.skip(uvBytes);
      }
      if (flags & fmt::kMeshPlacement) s += ", placement" + MatrixSummary(c, flags);
      return s;
    }
    case fmt::kVertexList: {
      uint32_t count = c.u32();
      if (12ull * count > c.left()) return tooLarge("vertex count", count, 12ull * count);
      std::string s = Format("%u vertices", count);
      if (count > 0) {
        float x = c.f32(), y = c.f32(), z = c.f32();
        s += Format(", first (%g, %g, %g)", x, y, z);
        c.skip(12ull * (count - 1));
      }
      return s;
    }
    case fmt::kKey: {
      int32_t frame = static_cast<int32_t>(c.u32());
      c.skip(fmt::KeyHeadBytes(flags) - 4);
      const bool object = flags & fmt::kKeyObject, camera = flags & fmt::kKeyCamera;
      std::string s = object && camera ? "object and camera key" : object ? "object key" : camera ? "camera key" : "unused key";
      s += Format(", frame %d", frame);
      if (object) {
        s += Format(", mesh %d", static_cast<int32_t>(c.u32()));
        if (fmt::KeyRefBytes(flags) == 8) s += Format(", morph list %d", static_cast<int32_t>(c.u32()));
      }
      if (fmt::KeyHasMatrix(flags)) {
        s += "," + MatrixSummary(c, flags);
      } else if (object) {
        s += ", mesh's placement";
      }
      return s;
    }
    case fmt::kMaterial: {
      std::string s;
      const char* names[3] = {"colour0", "diffuse", "colour2"};
      for (int i = 0; i < 3; ++i) {
        const fmt::MaterialColorSource source = fmt::MaterialColor(flags, i);
        if (i) s += ", ";
        if (source == fmt::kColorBlack) {
          s += Format("%s black", names[i]);
        } else if (source == fmt::kColorWhite) {
          s += Format("%s white", names[i]);
        } else {
          uint8_t r = c.u8(), g = c.u8(), b = c.u8();
          s += Format("%s (%u, %u, %u)", names[i], r, g, b);
        }
      }
      if (flags & fmt::kMatTexture) s += Format(", texture %d", static_cast<int32_t>(c.u32()));
      return s;
    }
    case fmt::kUVList: {
      int32_t count = static_cast<int32_t>(c.u32());
      if (count < 0) {
        *problem = Format("UV count %d is negative", count);
        *stop = true;
        return "";
      }
      if (8ull * count > c.left()) return tooLarge("UV count", count, 8ull * count);
      c.skip(8ull * count);
      return Format("%d UV pairs", count);
    }
    case fmt::kTexture: {
      uint32_t side = fmt::TextureSide(flags);
      if (side == 0) return "no size bit: ignored";
      c.skip(fmt::TexturePayloadBytes(flags));
      return Format("%u x %u, %s", side, side, (flags & fmt::kTexRGB565) ? "RGB565" : "paletted");
    }
    case fmt::kLight: {
      uint8_t r = c.u8(), g = c.u8(), b = c.u8();
      float intensity = c.f32();
      std::string s = Format("colour (%u, %u, %u), intensity %g", r, g, b, intensity);
      if (flags & fmt::kLightMatrix) s += "," + MatrixSummary(c, flags);
      return s;
    }
    default:
      return "";
  }
}

}  // namespace

const char* RecordTypeName(uint8_t type) {
  const char* name = fmt::RecordTypeName(type);
  return name != nullptr ? name : "unknown";
}

FileListing ReadRecords(const std::vector<uint8_t>& bytes) {
  FileListing out;
  Cursor c{bytes.data(), bytes.size()};
  if (bytes.size() < fmt::kHeaderSize) {
    out.problems.push_back(Format("the file has %zu bytes, fewer than the %u-byte header", bytes.size(),
                                  fmt::kHeaderSize));
    return out;
  }
  out.hasHeader = true;
  FileHeader& h = out.header;
  h.frameCount = c.u32();
  h.meshes = static_cast<int32_t>(c.u32());
  h.vertexLists = static_cast<int32_t>(c.u32());
  h.cameras = c.u32();
  h.objectKeys = static_cast<int32_t>(c.u32());
  h.materials = static_cast<int32_t>(c.u32());
  h.uvLists = static_cast<int32_t>(c.u32());
  h.textures = static_cast<int32_t>(c.u32());
  h.lights = static_cast<int32_t>(c.u32());
  h.recordTableSize = static_cast<int32_t>(c.u32());

  while (c.left() > 0) {
    RecordInfo r;
    r.offset = c.pos;
    r.type = c.u8();
    r.flags = c.u8();
    r.index = static_cast<int32_t>(c.u32());
    if (!c.ok) {
      r.problem = "record header cut by the end of the file";
    } else if (r.type < fmt::kFirstRecordType || r.type > fmt::kLastRecordType) {
      r.problem = Format("unknown VornExportFileID %u: the next byte is read as a new record", r.type);
    } else {
      bool stop = false;
      r.summary = Payload(c, r.type, r.flags, &r.problem, &stop);
      if (!c.ok && r.problem.empty()) r.problem = "cut by the end of the file: dropped";
      const bool stored = !(r.type == fmt::kTexture && fmt::TextureSide(r.flags) == 0);
      if (r.problem.empty() && stored && (r.index < 0 || r.index >= h.recordTableSize)) {
        r.problem = Format("record index %d outside 0..%d", r.index, h.recordTableSize - 1);
      }
      if (stop) c.ok = false;
    }
    r.size = (c.ok ? c.pos : c.size) - r.offset;
    if (!r.problem.empty()) {
      out.problems.push_back(Format("record at offset %llu (index %d): %s", (unsigned long long)r.offset,
                                    r.index, r.problem.c_str()));
    }
    out.records.push_back(std::move(r));
    if (!c.ok) break;
  }
  return out;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    if (error) *error = path + ": read failed";
    return false;
  }
  const std::string s = buffer.str();
  out->assign(s.begin(), s.end());
  return true;
}

}  // namespace vef
