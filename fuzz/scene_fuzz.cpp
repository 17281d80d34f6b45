// Scene files: import, post-load preparation and, when the file is playable, a
// few frames through the scene player into a renderer that checks every batch.
//
// Input: the bytes of a scene file followed by a 4-byte trailer, two
// little-endian u16 demo times (the first used as it is, 0 .. 65535, so times
// past the end are tried too; the second scaled to 0 .. 10000). The trailer is
// part of the file the importer reads as well: bytes after the last record are
// its business.
#include <math.h>
#include <stdarg.h>
#include <string.h>

#include "FuzzSupport.h"
#include "Renderer.h"
#include "Scene.h"
#include "ScenePlayer.h"

namespace {

// Checks what the player promises about every batch it hands over.
class CheckingRenderer : public Renderer {
 public:
  int uploads = 0;
  bool morphOnly = false;  // the frame being drawn holds morph keys only
  bool moderate = false;   // every vertex list's coordinates are within +-100
  long long triangles = 0;  // drawn since the last reset

  int GetWidth() override { return 800; }
  int GetHeight() override { return 600; }
  void Present() override {}
  void Print(uint32_t, int, int, const char* format, ...) override {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
  }
  void WindowChanged() override {}
  void Flush() override {
    fuzz::Check(TriangleCount >= 0 && TriangleCount <= TriangleCapacity, "batch count out of range");
    if (TriangleCount > 0) {
      fuzz::Check(CurrentTexture0 == -1 || (CurrentTexture0 >= 0 && CurrentTexture0 < uploads),
                  "stage 0 texture is not an uploaded one");
      fuzz::Check(CurrentTexture1 == -1, "stage 1 texture selected");
    }
    for (int i = 0; i < 3 * TriangleCount; ++i) {
      const TLVertex& v = Vertices[i];
      fuzz::Check((v.diffuse >> 24) == 0, "diffuse alpha is not 0");
      // Triangles of morph keys were clipped to the view volume by the player:
      // whatever is finite lies on the screen and in the depth range. Only
      // with moderate coordinates: a crossing point is computed in float, so
      // its distance from the plane grows with the coordinates, and near the
      // eye a small distance is many pixels.
      if (morphOnly && moderate && isfinite(v.x) && isfinite(v.y) && isfinite(v.z) && isfinite(v.rhw)) {
        const bool onScreen = v.x >= -1.0f && v.x <= 801.0f && v.y >= -1.0f && v.y <= 601.0f;
        const bool inDepth = v.z >= -1e-3f && v.z <= 1.001f && v.rhw > 0.0f;
        if (!onScreen || !inDepth) {
          char what[160];
          snprintf(what, sizeof what, "clipped morph vertex outside the view volume: x %g y %g z %g rhw %g",
                   v.x, v.y, v.z, v.rhw);
          fuzz::Fail(what);
        }
      }
    }
    triangles += TriangleCount;
    TriangleCount = 0;
  }
  int UploadTexture(Texture& texture) override {
    fuzz::Check(texture.pixels != nullptr, "texture without pixels uploaded");
    fuzz::Check(texture.width == texture.height &&
                    (texture.width == 32 || texture.width == 64 || texture.width == 128 ||
                     texture.width == 256),
                "uploaded texture size is not 32, 64, 128 or 256 square");
    // Every texel is read, as a real upload does.
    unsigned sum = 0;
    for (size_t i = 0; i < size_t(texture.width) * texture.height * 3; ++i) sum += texture.pixels[i];
    (void)sum;
    return uploads++;
  }
  void SelectTexture(int index, int stage) override {
    fuzz::Check(stage == 0 || stage == 1, "texture stage not 0 or 1");
    fuzz::Check(index == -1 || (index >= 0 && index < uploads), "selected texture is not an uploaded one");
  }
  void FreeTexture(int) override {}
  void FreeAllTextures() override {}
  void ClearFrame(uint32_t, float) override {}
};

// Triangles a frame may draw at most: one per rigid face (two when the player
// cut it at the near plane), a fan of four per clipped morph face. Also tells whether the frame holds morph keys only.
long long FrameBound(const Scene& scene, const ScenePlayer& player, uint32_t time, bool* morphOnly) {
  *morphOnly = false;
  const ScenePlayer::Sample sample = player.SampleTime(time);
  if (!sample.valid) return 0;
  const FrameSpan span = scene.frameSpans[sample.frame];
  long long bound = 0;
  bool allMorph = span.keyCount > 0;
  for (int32_t i = span.firstKey; i < span.firstKey + span.keyCount; ++i) {
    const Key& key = *scene.keys.items[i];
    bound += (key.kind == 2 ? 4LL : 2LL) * key.mesh->faceCount;
    allMorph = allMorph && key.kind == 2;
  }
  *morphOnly = allMorph;
  return bound;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFile file(".2vef");
  file.Write(data, size);
  Scene* scene = new Scene();
  scene->importFile(file.path().c_str());
  if (scene->isPlayable()) {
    fuzz::Check(scene->refusalReason()[0] == 0, "playable scene with a refusal reason");
    uint32_t times[4] = {0, 9949, 0, 0};
    if (size >= 4) {
      times[2] = uint32_t(data[size - 4]) | uint32_t(data[size - 3]) << 8;
      times[3] = (uint32_t(data[size - 2]) | uint32_t(data[size - 1]) << 8) * 10000u / 65535u;
    }
    CheckingRenderer renderer;
    renderer.moderate = true;
    for (int32_t i = 0; i < scene->vertexLists.count; ++i) {
      const VertexList* list = scene->vertexLists.items[i];
      for (int32_t k = 0; list != nullptr && k < list->count; ++k) {
        const Vec3& p = list->positions[k];
        if (!(fabsf(p.x) <= 100.0f && fabsf(p.y) <= 100.0f && fabsf(p.z) <= 100.0f)) renderer.moderate = false;
      }
    }
    {
      ScenePlayer player(&renderer, scene);
      fuzz::Check(scene->textures == nullptr, "the player kept the textures' Array");
      for (uint32_t time : times) {
        renderer.triangles = 0;
        const long long bound = FrameBound(*scene, player, time, &renderer.morphOnly);
        player.Render(time);
        renderer.Flush();
        fuzz::Check(renderer.triangles <= bound, "more triangles than the frame's faces allow");
      }
    }
  } else {
    fuzz::Check(scene->refusalReason()[0] != 0, "unplayable scene without a reason");
  }
  delete scene;
  return 0;
}
