// The in-memory scene: records of the scene file, linked by pointer after
// loading, and the pre-baked animation (one camera key and a run of object keys
// per frame).
//
// Conventions: floats are 32-bit; matrices are applied to row vectors,
// p' = p.x*r0 + p.y*r1 + p.z*r2 + t; view space has x right, y up and z away
// from the viewer. Colours are floats nominally 0..1.
#ifndef SCENE_H
#define SCENE_H

#include <stdint.h>

#include <fstream>
#include <string>
#include <vector>

#include "SceneFormat.h"

struct Vec3 {
  float x, y, z;
};

struct RGBColor {
  float r, g, b;  // red, green, blue; nominally 0..1, lighting may sum above 1
};

// Three rows (the images of the x, y and z axes) and a translation.
struct Matrix {
  Vec3 r0, r1, r2;
  Vec3 t;

  // Identity rows, zero translation.
  void SetIdentity();
  // Replaces the 3x3 part by the rotation of angles ax, ay, az (radians); t stays.
  void SetRotation(float ax, float ay, float az);
  // Multiplies r0 by fx, r1 by fy, r2 by fz.
  void Scale(float fx, float fy, float fz);
  // This matrix followed by `then`: rows r_k * then (3x3 part only), translation
  // t * then + then.t. The composed matrix maps p to then(this(p)).
  void Compose(const Matrix& then);
  // p.x*r0 + p.y*r1 + p.z*r2 + t.
  Vec3 Transform(const Vec3& p) const;
};

// The object keys of one frame: keys[firstKey .. firstKey + keyCount - 1].
struct FrameSpan {
  int32_t firstKey = 0;
  int32_t keyCount = 0;
};

struct Material;
struct VertexList;
struct UVList;
struct Texture;
struct Light;

// One triangle of a mesh.
struct Face {
  Material* material;       // used when the mesh has perFaceMaterial 1
  uint16_t vertex[3];       // indices into the mesh's vertexList, corners 0, 1, 2
  uint16_t uv[3];           // indices into the mesh's uvList
  RGBColor cornerColor[3];  // summed light contributions per corner
  Vec3 normal;              // (P1 - P0) x (P2 - P0), not normalised
  float planeD;             // normal . P0
};

// Record type 1.
struct Mesh {
  int32_t faceCount;
  Face* faces;              // faceCount faces, owned
  VertexList* vertexList;   // object-space positions and unit normals; may be null
  uint8_t perFaceMaterial;  // 1: each face has its own material
  Material* material;       // used when perFaceMaterial is 0
  UVList* uvList;           // may be null
  uint8_t hasMatrix;        // 1: placed by `matrix`, lit once after loading
  Matrix matrix;            // placement, valid when hasMatrix is 1

  explicit Mesh(int32_t faceCount);

  // Face normals (P1 - P0) x (P2 - P0), not normalised, and planeD = normal . P0,
  // from the list's positions. Does nothing for a null list or no faces.
  void ComputeFacePlanes(VertexList* list);
  // Each vertex normal of the list: the sum of the face normals of every corner
  // that uses the vertex, scaled to unit length; (0, 0, 0) for a vertex that no
  // face uses (or whose faces are all degenerate).
  void ComputeVertexNormals(VertexList* list);
  // Every corner colour of every face to 0.
  void ClearLighting();
  // Adds one point light's diffuse term to every face corner; only placement.t,
  // the light position in the mesh's own coordinates, is read. Per corner:
  // I = max(0, unit(P - p) . n) * intensity, then cornerColor += I * color,
  // times the material's diffuse channel by channel when the face's material is
  // untextured (textureHandle -1). A light with mode != 0 adds nothing, and
  // neither does a light exactly at the vertex (no direction to it).
  void AddLight(VertexList* list, Light* light, const Matrix& placement);
};

// Record type 2: a mesh's own vertices (object space) or one morph key's
// vertices (camera space after loading).
struct VertexList {
  int32_t count;
  Vec3* positions;  // count positions, owned
  Vec3* normals;    // count unit normals, owned, computed after loading
};

// Record type 5.
struct UVList {
  int32_t count;
  float (*coords)[2];  // count pairs (u, 1 - v of the file), owned
};

// Record type 3: one frame's placement of one mesh (object key) or the camera
// of one frame (camera key).
struct Key {
  Key* next;                  // same mesh in the next frame, or itself; camera: next camera or itself
  uint8_t kind;               // object keys: 1 rigid, 2 morph
  uint8_t useMeshMatrix;      // 1: matrix comes from the mesh's placement
  Matrix matrix;              // object key after loading: object space -> camera space
  Mesh* mesh;                 // object keys
  VertexList* morphVertices;  // kind 2: this frame's vertex positions (camera space)
};

// Record type 4.
struct Material {
  RGBColor color0;        // kept, not used
  RGBColor diffuse;       // multiplies light on untextured faces
  RGBColor color2;        // kept, not used
  int32_t textureHandle;  // renderer texture index of `texture`, -1 for none
  Texture* texture;       // may be null

  Material();
};

// Record type 6: a square image.
struct Texture {
  uint8_t* pixels;  // width*height texels of 3 bytes (red, green, blue), rows first to last
  int32_t handle;   // renderer texture index, -1 until uploaded
  uint16_t width;   // 32, 64, 128 or 256
  uint16_t height;  // equal to width
};

// Record type 7: a point light.
struct Light {
  uint32_t mode;    // 0; lighting ignores a light whose mode is not 0
  uint8_t enabled;  // 1
  Matrix matrix;    // only t, the world-space position, is used
  RGBColor color;   // file bytes / 255
  float intensity;  // factor on every contribution
};

// A growable table of record pointers. Slots not yet filled are null.
template <typename T>
struct Array {
  int32_t count = 0;     // slots in use, filled from slot 0
  int32_t capacity = 0;  // slots allocated
  T** items = nullptr;   // capacity slots

  Array() = default;
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  // Releases every item in the slots with the buffers it owns (a Mesh its faces,
  // a VertexList its positions and normals, a UVList its coords, a Texture its
  // pixels), then the slot block.
  ~Array();

  // Allocates n null slots. On an Array that already has slots it logs
  // "\nFehler: Array war schon initialisiert" and keeps its items (growing to n
  // slots if n is larger), so nothing already added is lost.
  void Init(int32_t n);
  // Stores item in slot count; when full, logs "\nArray\xFC" "berauf, Resize()"
  // and grows first.
  void Add(T* item);
  // Grows the slot block to twice its size (at least 16 slots), keeping the items.
  void Resize();
};

// The whole scene. Created once, on the heap (the keyFrames table makes it about
// 4 MB), filled by importFile and never destroyed while the program runs.
class Scene {
 public:
  static const int32_t kMaxObjectKeys = SceneFormat::kMaxObjectKeys;  // size of keyFrames
  // Bounds on the work a file can ask for; the default content needs about a
  // thousandth of each (5,760 corner-light evaluations and 6,323 faces plus
  // vertices in its busiest frame, 72,480 at load).
  // Corner-light evaluations of one frame: every key of the frame that shows
  // a mesh without its own placement relights it, 3 x faces x lights.
  static const uint64_t kMaxFrameLighting = 10000000;
  // Faces plus vertices one frame projects: per key its mesh's faces and its
  // vertex list (rigid) or morph list (morph).
  static const uint64_t kMaxFrameGeometry = 10000000;
  // Corner-light evaluations of the lighting at load: 3 x faces of the placed
  // meshes x lights.
  static const uint64_t kMaxLoadLighting = 100000000;

  uint32_t frameCount;       // animation frames
  uint32_t maxVertexCount;   // largest VertexList count, morph lists included
  float frameDuration;       // demo-time length of a frame: 10000 / (frameCount - 1)
  Material* defaultMaterial; // white, no texture: stands in for material index 0
  Array<Mesh> meshes;
  Array<Material> materials;
  Array<Key> keys;           // object keys in file (= frame) order
  Array<VertexList> vertexLists;
  Array<UVList> uvLists;
  Array<Light> lights;
  Array<Key> cameras;        // entry i is the camera of frame i
  Array<Texture>* textures;  // until the upload: then null (dropTexturePixels)
  FrameSpan* frameSpans;     // frameCount spans
  uint32_t cameraCount;      // header's camera count
  int32_t keyFrameCount;     // entries of keyFrames in use, == keys.count
  int32_t keyFrames[kMaxObjectKeys];  // frame number of each object key

  Scene();
  // Releases every record. The demo never destroys its Scene; tools and tests do.
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Reads the named scene file and prepares it for playback. A file that breaks
  // the format's limits is refused: the scene is left empty and not playable,
  // and the reason is logged ("\nImport refused: FILE: record index N: ...")
  // naming the file, the record and the problem. Refused are: a file that
  // cannot be opened, sized or read; a header shorter than 40 bytes, a negative
  // count, counts that the rest of the file cannot hold (a record is at least
  // 6 bytes), a recordTableSize above the file size, more than 1,000,000 object
  // keys announced or read, frameCount below 2; a record index outside the
  // table; a face, vertex, UV or run count whose data runs past the end of the
  // file; material runs covering more faces than the mesh has; a reference to
  // an index outside the table, to no record or to a record of the wrong kind;
  // vertex or UV indices outside their lists; a rigid key whose mesh has faces
  // but no vertex list; a morph list shorter than its mesh's faces need or than
  // its next key's, or a next key that is not a morph key; fewer cameras than
  // frames; a frame whose lighting or geometry work exceeds kMaxFrameLighting
  // or kMaxFrameGeometry, or load-time lighting beyond kMaxLoadLighting (the
  // work grows with the product of counts, so a small file could otherwise
  // ask for minutes per frame). A record cut by the end of the file is
  // dropped (and the file refused if something refers to it). A Scene imports
  // one file only.
  void importFile(const char* fileName);

  // True once a file was imported and prepared without being refused.
  bool isPlayable() const;
  // Why the last import was refused ("" when it was not): the file, the record
  // index (or "header") and the problem.
  const char* refusalReason() const;

  // After the upload of the textures: frees every texture's pixels and the
  // textures Array, and sets `textures` to null. The Texture records stay, for
  // the materials point at them and their handles stay valid; the Scene still
  // owns them and releases them when it is destroyed.
  void dropTexturePixels();

 private:
  // The import, behind importFile: the file's state, the record readers and
  // the post-load preparation, in the order importStream runs them.
  friend struct SceneTestAccess;  // tests: whether the import state is released

  struct RecordSlot {
    void* record;  // the record read under this index, or null
    uint8_t type;  // its record type 1..7, 0 while empty
  };
  RecordSlot* recordTable;  // during the import: recordTableSize slots
  uint8_t recordFlags;      // flags byte of the record being read
  int32_t recordIndex;      // index of the record being read
  std::ifstream* stream;    // the file, during the import

  // Import state; null outside an import.
  struct ImportState;
  ImportState* importState;
  std::string fileName;   // the file being or last imported, for messages
  bool playable;          // set by a successful import
  std::string refusal;    // reason of the last refusal, "" if none
  std::vector<Texture*> uploadedTextures;  // records left by dropTexturePixels, owned

  // Reads the header and the records from `stream`, closes and releases it, and
  // runs the post-load preparation. `stream` must be open for binary reading.
  void importStream();

  // Record readers, called after the record header has been read; each reads
  // its payload from `stream` as `recordFlags` selects.
  void readMesh();
  void readVertexList();
  void readKey();
  void readMaterial();
  void readUVList();
  void readTexture();
  void readLight();
  // Identity, then the matrix block parts selected by recordFlags 0x01, 0x02,
  // 0x04. Logs "\nError: readMatrix" for a null destination.
  void readMatrix(Matrix* m);
  // Three bytes, each times the float 1/255.
  void readColor(RGBColor* color);
  // Per little-endian 16-bit texel: SceneFormat::WidenTexel565.
  static void convertRGB565(const uint8_t* texels, uint32_t count, uint8_t* out);
  // Per index i: palette bytes 3i, 3i + 1, 3i + 2.
  static void convertPaletted(const uint8_t* palette, const uint8_t* indices, uint32_t count,
                              uint8_t* out);

  // Post-load preparation, in the order importStream runs it.
  void buildFrameSpans();
  void resolveReferences();
  void resolveKeys();
  // Key j's next: the first later key of frame keyFrames[j] + 1 with the same
  // mesh, else key j itself, as resolveKeys found it in one sorted sweep over
  // all keys (O(n log n), not O(n^2)).
  void linkNextKey(int32_t j);
  void resolveMeshMaterials();
  void resolveMeshUVLists();
  void resolveMaterialTextures();
  void resolveMeshVertexLists();
  void* recordAt(int32_t i) const;  // the record read under index i
  void bakeCameraSpace();
  void computeMeshGeometry();
  void computeStaticLighting();

  void refuse(int32_t record, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  bool readBytes(void* out, size_t n);
  uint64_t bytesLeft() const;
  void dropRecord(void* record);
  bool checkAndStore(void* record, uint8_t type);
  bool validate();
  bool checkMorphPartners();
  bool checkWork();
  void clear();
};

#endif
