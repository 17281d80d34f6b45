// Recorded triangle streams: the reader either refuses the file with a message
// naming it, or returns a stream whose every part has the promised shape.
#include "FuzzSupport.h"
#include "raster/TriangleStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFile file(".trs");
  file.Write(data, size);
  standin::raster::TriangleStream stream;
  std::string error;
  if (!standin::raster::LoadTriangleStream(file.path(), &stream, &error)) {
    fuzz::Check(error.rfind(file.path() + ": ", 0) == 0, "refusal does not name the file");
    return 0;
  }
  fuzz::Check(error.empty(), "accepted stream with an error message");
  fuzz::Check(stream.width > 0 && stream.height > 0 && stream.maxBatch > 0 && stream.cull <= 2,
              "accepted header out of range");
  for (const auto& t : stream.textures) {
    fuzz::Check(t.side >= 32 && t.side <= 256 && t.texels.size() == size_t(t.side) * t.side,
                "texture of the wrong shape");
  }
  size_t bytes = 48;
  for (const auto& t : stream.textures) bytes += 4 + t.texels.size() * 2;
  for (const auto& f : stream.frames) {
    bytes += 16 + f.triangles.size() * 88;
    for (const auto& tri : f.triangles) {
      fuzz::Check(tri.texture < stream.textures.size(), "triangle names a missing texture");
    }
  }
  fuzz::Check(bytes == size, "accepted stream does not account for every byte");
  return 0;
}
