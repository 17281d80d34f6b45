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

// Side of a texture record in texels, 0 when no size bit is set.
inline uint32_t TextureSide(uint8_t flags) {
  if (flags & kTex32) return 32;
  if (flags & kTex64) return 64;
  if (flags & kTex128) return 128;
  if (flags & kTex256) return 256;
  return 0;
}

// Bytes of a matrix block with the given part bits: 0, 12, 24 or 36.
inline uint32_t MatrixBlockSize(uint8_t flags) {
  return 12u * (((flags & kMatrixRotation) ? 1u : 0u) + ((flags & kMatrixScale) ? 1u : 0u) +
                ((flags & kMatrixTranslation) ? 1u : 0u));
}

}  // namespace SceneFormat

#endif
