// The exporter's glTF input: .gltf (JSON) or .glb bytes loaded from memory,
// with no external files; when they load, the model is listed as the tool's
// --list does. A refusal must name the input.
#include "FuzzSupport.h"
#include "Export.h"
#include "Model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vefexport::Model model;
  std::string error;
  if (!vefexport::LoadGltfFromMemory(data, size, "fuzz input", "", &model, &error)) {
    fuzz::Check(error.rfind("fuzz input", 0) == 0, "refusal does not name the input");
    return 0;
  }
  for (int root : model.roots)
    fuzz::Check(root >= 0 && static_cast<size_t>(root) < model.nodes.size(), "root outside the nodes");
  const std::string listing = vefexport::ListModel(model);
  fuzz::Check(!listing.empty(), "empty listing of a loaded model");
  return 0;
}
