// The scene file "scene.2vef": the one description of its layout, shared by the
// importer (Scene.cpp) and the tools' writer and reader (tools/vef).
//
// Byte order: little-endian throughout. No magic, version, checksum, record
// length or alignment: every field follows the previous one directly.
//
//   Header, 10 x 32 bits at offset 0:
//     0 u32 frameCount        4 i32 meshes         8 i32 vertex lists
//    12 u32 cameraCount      16 i32 object keys   20 i32 materials
//    24 i32 UV lists         28 i32 textures      32 i32 lights
//    36 i32 recordTableSize (every record index is below it)
//
//   Then records until the end of the file, each a 6-byte header
//     u8 type (VornExportFileID 1..7), u8 flags, i32 record index
//   and a payload whose layout depends on type and flags (see the bits below).
//
//   A "ref" is an i32 record index. For a mesh's vertex list, material(s) and
//   UV list and a material's texture, ref 0 means none; a key's mesh and morph
//   list refs have no "none".
//
//   Matrix block: present parts, in this order, selected by bits 0x01, 0x02,
//   0x04 of the containing record's flags: 3 x f32 rotation angles (radians,
//   about x, y, z), 3 x f32 scale factors, 3 x f32 translation. 0 to 36 bytes.
//
//   Colour triple: 3 x u8 red, green, blue; each is read as byte / 255.
#ifndef SCENEFORMAT_H
#define SCENEFORMAT_H

#include <stdint.h>

#include <cmath>

namespace SceneFormat {

const uint32_t kHeaderSize = 40;        // bytes of the file header
const uint32_t kHeaderValues = 10;      // 32-bit values in the header
const uint32_t kRecordHeaderSize = 6;   // type, flags, record index
const int32_t kMaxObjectKeys = 1000000; // object keys one scene can hold

// Record types (VornExportFileID).
enum RecordType : uint8_t {
  kMesh = 1,        // i32 faces; indices; [ref list]; runs or ref material; [ref uv + uv indices]; [matrix]
  kVertexList = 2,  // u32 count; count x (f32 x, y, z)
  kKey = 3,         // i32 frame; 4 ignored bytes; [1 ignored byte]; [ref mesh [ref morph]]; [matrix]
  kMaterial = 4,    // [colour0] [diffuse] [colour2] [ref texture]
  kUVList = 5,      // i32 count; count x (f32 u, v)
  kTexture = 6,     // 565 texels, or 768-byte palette + index bytes
  kLight = 7,       // colour; f32 intensity; [matrix]
};
const uint8_t kFirstRecordType = 1;
const uint8_t kLastRecordType = 7;

// Matrix block parts (mesh, key and light records).
const uint8_t kMatrixRotation = 0x01;     // 3 x f32 angles
const uint8_t kMatrixScale = 0x02;        // 3 x f32 factors
const uint8_t kMatrixTranslation = 0x04;  // 3 x f32 translation
const uint8_t kMatrixParts = 0x07;

// Mesh flags.
const uint8_t kMeshByteIndices = 0x08;    // 3 x u8 vertex indices per face, else 3 x u16
const uint8_t kMeshVertexList = 0x10;     // ref vertex list follows the indices
const uint8_t kMeshUVs = 0x20;            // ref UV list, then 3 x u16 UV indices per face
const uint8_t kMeshMaterialRuns = 0x40;   // u32 run count, runs of (u32 length, ref material); else one ref
const uint8_t kMeshPlacement = 0x80;      // matrix block: the mesh's own placement

// Key flags.
const uint8_t kKeyCamera = 0x08;          // camera key of its frame (z of rows and t negated on reading)
const uint8_t kKeyExtraByte = 0x10;       // one more ignored byte after the 4 ignored ones
const uint8_t kKeyNoMatrix = 0x20;        // no matrix block: an object key takes its mesh's placement
const uint8_t kKeyObject = 0x40;          // object key: ref mesh follows (kind 1, rigid)
const uint8_t kKeyMorph = 0x80;           // with kKeyObject: ref morph vertex list follows (kind 2)

// Material flags: each colour is black, white or read as a triple.
const uint8_t kMatColor0Black = 0x01;
const uint8_t kMatColor0White = 0x02;     // only when kMatColor0Black is clear
const uint8_t kMatDiffuseBlack = 0x04;
const uint8_t kMatDiffuseWhite = 0x08;    // only when kMatDiffuseBlack is clear
const uint8_t kMatColor2Black = 0x10;
const uint8_t kMatColor2White = 0x20;     // only when kMatColor2Black is clear
const uint8_t kMatTexture = 0x40;         // ref texture follows

// Texture flags. The side is tested in this priority: 0x08, 0x04, 0x02, 0x01;
// without any of them the record has no payload and is ignored.
const uint8_t kTex256 = 0x01;
const uint8_t kTex128 = 0x02;
const uint8_t kTex64 = 0x04;
const uint8_t kTex32 = 0x08;
const uint8_t kTexSizeBits = 0x0F;
const uint8_t kTexRGB565 = 0x10;          // side*side u16 texels, else palette + u8 indices
const uint32_t kPaletteBytes = 768;       // 256 entries of red, green, blue

// Light flags.
const uint8_t kLightMatrix = 0x10;        // matrix block follows; its t is the position

// Name of a record type in messages ("mesh", "vertex list", "key", "material",
// "UV list", "texture", "light"); null outside 1..7.
inline const char* RecordTypeName(uint8_t type) {
  static const char* const kNames[] = {"mesh",    "vertex list", "key",  "material",
                                       "UV list", "texture",     "light"};
  return type >= kFirstRecordType && type <= kLastRecordType ? kNames[type - kFirstRecordType] : nullptr;
}

// Which bytes the flags add, record by record. Each reader (the importer,
// the tools' walk) follows these rules.

// Bytes of a matrix block with the given part bits: 0, 12, 24 or 36.
inline uint32_t MatrixBlockSize(uint8_t flags) {
  return 12u * (((flags & kMatrixRotation) ? 1u : 0u) + ((flags & kMatrixScale) ? 1u : 0u) +
                ((flags & kMatrixTranslation) ? 1u : 0u));
}

// Mesh: bytes of one face's three vertex indices, 3 (u8) or 6 (u16).
inline uint32_t MeshIndexBytes(uint8_t flags) { return (flags & kMeshByteIndices) ? 3u : 6u; }
// Mesh: bytes of one face's three UV indices (u16), present with kMeshUVs.
const uint32_t kMeshUVIndexBytes = 6;
// Mesh: bytes of one material run (u32 length, ref material).
const uint32_t kMaterialRunBytes = 8;

// Key: bytes before the refs: i32 frame, 4 ignored bytes, and one more
// ignored byte with kKeyExtraByte.
inline uint32_t KeyHeadBytes(uint8_t flags) { return (flags & kKeyExtraByte) ? 9u : 8u; }
// Key: bytes of the refs: none, ref mesh (object key), or ref mesh and ref
// morph list (object key with kKeyMorph).
inline uint32_t KeyRefBytes(uint8_t flags) {
  return (flags & kKeyObject) ? ((flags & kKeyMorph) ? 8u : 4u) : 0u;
}
// Key: whether a matrix block follows: for object and camera keys, unless
// kKeyNoMatrix is set.
inline bool KeyHasMatrix(uint8_t flags) {
  return (flags & (kKeyObject | kKeyCamera)) != 0 && (flags & kKeyNoMatrix) == 0;
}

// Material: where colour i (0 colour0, 1 diffuse, 2 colour2) comes from. Its
// black bit is 1 << 2i and wins over its white bit 2 << 2i; with neither a
// colour triple follows.
enum MaterialColorSource { kColorBlack, kColorWhite, kColorTriple };
inline MaterialColorSource MaterialColor(uint8_t flags, int i) {
  if (flags & (kMatColor0Black << (2 * i))) return kColorBlack;
  if (flags & (kMatColor0White << (2 * i))) return kColorWhite;
  return kColorTriple;
}

// Texture: side in texels, 0 when no size bit is set (then no payload).
inline uint32_t TextureSide(uint8_t flags) {
  if (flags & kTex32) return 32;
  if (flags & kTex64) return 64;
  if (flags & kTex128) return 128;
  if (flags & kTex256) return 256;
  return 0;
}
// Texture: bytes of the payload: side*side u16 texels (kTexRGB565), or the
// palette and side*side u8 indices; 0 without a size bit.
inline uint32_t TexturePayloadBytes(uint8_t flags) {
  const uint32_t texels = TextureSide(flags) * TextureSide(flags);
  if (texels == 0) return 0;
  return (flags & kTexRGB565) ? 2 * texels : kPaletteBytes + texels;
}
// Texture: the 8-bit channels of an RGB565 texel v: red (v >> 11) << 3,
// green ((v >> 5) & 63) << 2, blue (v & 31) << 3. The low bits stay 0, so
// white is (248, 252, 248).
inline void WidenTexel565(uint16_t v, uint8_t rgb[3]) {
  rgb[0] = static_cast<uint8_t>((v >> 11) << 3);
  rgb[1] = static_cast<uint8_t>(((v >> 5) & 63) << 2);
  rgb[2] = static_cast<uint8_t>((v & 31) << 3);
}

// The matrix block's rotation. Angles (ax, ay, az), radians, stand for a
// rotation about x by ax, then about y by ay, then about z by az, applied to
// row vectors (p' = p.x*r0 + p.y*r1 + p.z*r2). With c and s the cosines and
// sines of the angles, the rows are
//   r0 = (cy cz,             cy sz,             -sy  )
//   r1 = (sx sy cz - cx sz,  sx sy sz + cx cz,  sx cy)
//   r2 = (cx sy cz + sx sz,  cx sy sz - sx cz,  cx cy)
// computed in T (the importer: float).
template <typename T>
void RotationRows(T ax, T ay, T az, T r[3][3]) {
  using std::cos;
  using std::sin;
  const T cx = cos(ax), sx = sin(ax), cy = cos(ay), sy = sin(ay), cz = cos(az), sz = sin(az);
  r[0][0] = cy * cz, r[0][1] = cy * sz, r[0][2] = -sy;
  r[1][0] = sx * sy * cz - cx * sz, r[1][1] = sx * sy * sz + cx * cz, r[1][2] = sx * cy;
  r[2][0] = cx * sy * cz + sx * sz, r[2][1] = cx * sy * sz - sx * cz, r[2][2] = cx * cy;
}

// The writers' inverse: angles whose RotationRows are the proper rotation r,
// ay = asin(-r[0][2]) in -pi/2..pi/2. When cos(ay) is not above `locked` the
// rotation looks straight along x, where only ax - az (or ax + az) is fixed:
// az = 0 is taken.
template <typename T>
void RotationAngles(const T r[3][3], T locked, T angles[3]) {
  T sy = -r[0][2];
  if (sy < T(-1)) sy = T(-1);
  if (sy > T(1)) sy = T(1);
  const T ay = std::asin(sy);
  angles[1] = ay;
  if (std::cos(ay) > locked) {
    angles[0] = std::atan2(r[1][2], r[2][2]);
    angles[2] = std::atan2(r[0][1], r[0][0]);
  } else {
    angles[0] = std::atan2(r[1][0] * sy, r[1][1]);
    angles[2] = T(0);
  }
}

}  // namespace SceneFormat

#endif
