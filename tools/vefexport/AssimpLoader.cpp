// Formats other than glTF (FBX, Collada, OBJ, 3DS, ...) through Assimp into
// the intermediate model. Assimp's keys carry no interpolation mode; they are
// taken as linear, which is what these formats' exporters bake. Morph
// animation is not read from them.
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "Model.h"

namespace vefexport {

namespace {

// Assimp matrices are row-major for column vectors; our rows are its columns.
Affine FromAi(const aiMatrix4x4& a) {
  Affine m;
  m.r[0] = {a.a1, a.b1, a.c1};
  m.r[1] = {a.a2, a.b2, a.c2};
  m.r[2] = {a.a3, a.b3, a.c3};
  m.t = {a.a4, a.b4, a.c4};
  return m;
}

struct Builder {
  const aiScene* s;
  Model* m;
  std::string dir;
  std::map<std::string, int> byName;
  std::map<const aiMesh*, int> meshSkinNode;

  int image(const aiString& path) {
    const std::string p = path.C_Str();
    Image img;
    img.name = p;
    bool ok = false;
    if (!p.empty() && p[0] == '*') {
      const long i = std::strtol(p.c_str() + 1, nullptr, 10);
      if (i >= 0 && unsigned(i) < s->mNumTextures) {
        const aiTexture* t = s->mTextures[i];
        if (t->mHeight == 0) {
          ok = DecodeImage(reinterpret_cast<const uint8_t*>(t->pcData), t->mWidth, &img);
        } else {
          img.width = int(t->mWidth);
          img.height = int(t->mHeight);
          img.rgba.resize(size_t(t->mWidth) * t->mHeight * 4);
          for (size_t k = 0; k < size_t(t->mWidth) * t->mHeight; ++k) {
            img.rgba[4 * k] = t->pcData[k].r;
            img.rgba[4 * k + 1] = t->pcData[k].g;
            img.rgba[4 * k + 2] = t->pcData[k].b;
            img.rgba[4 * k + 3] = t->pcData[k].a;
          }
          ok = true;
        }
      }
    } else {
      // Files written on Windows name their images with backslashes (".\\tex.jpg",
      // "C:\\work\\tex.jpg"): read them as slashes, and when the path does not
      // lead to a file, look for the image's name beside the model.
      std::string rel = p;
      std::replace(rel.begin(), rel.end(), '\\', '/');
      const bool absolute = !rel.empty() && (rel[0] == '/' || (rel.size() > 1 && rel[1] == ':'));
      const size_t slash = rel.find_last_of('/');
      for (const std::string& file : {absolute ? rel : dir + "/" + rel, dir + "/" + rel.substr(slash + 1)}) {
        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ok = DecodeImage(bytes.data(), bytes.size(), &img);
        break;
      }
    }
    if (!ok) {
      m->warnings.push_back("image \"" + p + "\" is missing or undecodable: its material keeps its colour");
      return -1;
    }
    m->images.push_back(std::move(img));
    return int(m->images.size() - 1);
  }

  int node(const aiNode* n) {
    const int index = int(m->nodes.size());
    m->nodes.emplace_back();
    {
      Node& out = m->nodes.back();
      out.name = n->mName.C_Str();
      aiVector3D sc, pos;
      aiQuaternion q;
      n->mTransformation.Decompose(sc, q, pos);
      out.translation = {pos.x, pos.y, pos.z};
      out.rotation = {q.x, q.y, q.z, q.w};
      out.scale = {sc.x, sc.y, sc.z};
      byName.emplace(out.name, index);
    }
    // One child per mesh, so each can have its own skin.
    for (unsigned i = 0; i < n->mNumMeshes; ++i) {
      const aiMesh* am = s->mMeshes[n->mMeshes[i]];
      Node child;
      child.name = std::string(n->mName.C_Str()) + "/" + am->mName.C_Str();
      child.mesh = int(m->meshes.size());
      Mesh mesh;
      mesh.name = am->mName.length ? am->mName.C_Str() : child.name;
      Primitive p;
      for (unsigned v = 0; v < am->mNumVertices; ++v) {
        p.positions.push_back({am->mVertices[v].x, am->mVertices[v].y, am->mVertices[v].z});
        if (am->mTextureCoords[0]) p.uvs.push_back({am->mTextureCoords[0][v].x, am->mTextureCoords[0][v].y});
      }
      for (unsigned f = 0; f < am->mNumFaces; ++f) {
        const aiFace& face = am->mFaces[f];
        if (face.mNumIndices != 3) continue;
        const uint32_t a = face.mIndices[0], b = face.mIndices[1], c = face.mIndices[2];
        if (a >= am->mNumVertices || b >= am->mNumVertices || c >= am->mNumVertices || a == b || b == c || a == c) continue;
        p.triangles.push_back({a, b, c});
      }
      if (am->mPrimitiveTypes & (aiPrimitiveType_POINT | aiPrimitiveType_LINE))
        m->warnings.push_back("mesh \"" + mesh.name + "\": points and lines are skipped");
      p.material = int(am->mMaterialIndex) < int(m->materials.size()) ? int(am->mMaterialIndex) : -1;
      if (am->mNumBones > 0) {
        child.skin = int(m->skins.size());
        Skin skin;
        std::vector<std::vector<std::pair<float, uint16_t>>> infl(am->mNumVertices);
        for (unsigned b = 0; b < am->mNumBones && b < 65535; ++b) {
          const aiBone* bone = am->mBones[b];
          skin.joints.push_back(-1);  // resolved by name once every node exists
          skin.inverseBind.push_back(FromAi(bone->mOffsetMatrix));
          m->warnings.reserve(m->warnings.size());
          for (unsigned w = 0; w < bone->mNumWeights; ++w)
            if (bone->mWeights[w].mVertexId < am->mNumVertices)
              infl[bone->mWeights[w].mVertexId].push_back({bone->mWeights[w].mWeight, uint16_t(b)});
          boneNames.push_back({int(m->skins.size()), bone->mName.C_Str()});
        }
        for (auto& v : infl) {
          std::sort(v.begin(), v.end(), [](auto& x, auto& y) { return x.first > y.first; });
          std::array<uint16_t, 4> j{};
          std::array<float, 4> w{};
          for (size_t k = 0; k < 4 && k < v.size(); ++k) j[k] = v[k].second, w[k] = v[k].first;
          p.joints.push_back(j);
          p.weights.push_back(w);
        }
        m->skins.push_back(std::move(skin));
      }
      mesh.primitives.push_back(std::move(p));
      m->meshes.push_back(std::move(mesh));
      const int ci = int(m->nodes.size());
      m->nodes.push_back(std::move(child));
      m->nodes[size_t(index)].children.push_back(ci);
    }
    for (unsigned i = 0; i < n->mNumChildren; ++i) {
      const int c = node(n->mChildren[i]);
      m->nodes[size_t(index)].children.push_back(c);
    }
    return index;
  }
  std::vector<std::pair<int, std::string>> boneNames;  // (skin, bone name) in joint order
};

}  // namespace

bool LoadAssimpFile(const std::string& path, Model* model, std::string* error) {
  *model = Model();
  model->file = path;
  Assimp::Importer importer;
  const aiScene* s = importer.ReadFile(path, aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_FlipUVs |
                                                 aiProcess_LimitBoneWeights | aiProcess_ValidateDataStructure);
  if (!s || !s->mRootNode || (s->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
    // Assimp returns a scene without meshes marked incomplete, with no message
    // (and a stand-in mesh of its own), or refuses it in validation.
    const std::string why = importer.GetErrorString();
    if ((s && (s->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) || why.find("mNumMeshes is 0") != std::string::npos)
      *error = path + ": no geometry to convert: the file holds no mesh";
    else
      *error = path + ": not a readable model: " + (why.empty() ? "the importer gives no reason" : why);
    return false;
  }
  const size_t slash = path.find_last_of('/');
  Builder b{s, model, slash == std::string::npos ? "." : path.substr(0, slash), {}, {}, {}};
  for (unsigned i = 0; i < s->mNumMaterials; ++i) {
    const aiMaterial* am = s->mMaterials[i];
    Material mat;
    aiString name;
    if (am->Get(AI_MATKEY_NAME, name) == AI_SUCCESS) mat.name = name.C_Str();
    aiColor4D c;
    if (am->Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS)
      mat.baseColor = {std::clamp(double(c.r), 0.0, 1.0), std::clamp(double(c.g), 0.0, 1.0), std::clamp(double(c.b), 0.0, 1.0), 1};
    aiString tex;
    if (am->GetTexture(aiTextureType_DIFFUSE, 0, &tex) == AI_SUCCESS) {
      mat.image = b.image(tex);
      if (mat.image >= 0) mat.baseColor = {1, 1, 1, 1};  // Assimp's diffuse colour does not tint its texture
    }
    model->materials.push_back(mat);
  }
  model->roots.push_back(b.node(s->mRootNode));
  for (const auto& [skin, name] : b.boneNames) {
    auto it = b.byName.find(name);
    if (it == b.byName.end()) {
      *error = path + ": bone \"" + name + "\" names no node";
      return false;
    }
    for (int& j : model->skins[size_t(skin)].joints)
      if (j < 0) { j = it->second; break; }
  }
  for (unsigned i = 0; i < s->mNumAnimations; ++i) {
    const aiAnimation* a = s->mAnimations[i];
    Animation anim;
    anim.name = a->mName.length ? a->mName.C_Str() : "#" + std::to_string(i);
    const double tps = a->mTicksPerSecond > 0 ? a->mTicksPerSecond : 25.0;
    for (unsigned c = 0; c < a->mNumChannels; ++c) {
      const aiNodeAnim* na = a->mChannels[c];
      auto it = b.byName.find(na->mNodeName.C_Str());
      if (it == b.byName.end()) continue;
      auto add = [&](Path path, int width, unsigned n, auto key) {
        if (n == 0) return;
        Channel ch;
        ch.node = it->second;
        ch.path = path;
        ch.width = width;
        for (unsigned k = 0; k < n; ++k) key(k, &ch);
        for (size_t k = 1; k < ch.times.size(); ++k) ch.times[k] = std::max(ch.times[k], ch.times[k - 1]);
        anim.duration = std::max(anim.duration, double(ch.times.back()));
        anim.channels.push_back(std::move(ch));
      };
      add(Path::kTranslation, 3, na->mNumPositionKeys, [&](unsigned k, Channel* ch) {
        ch->times.push_back(float(na->mPositionKeys[k].mTime / tps));
        const aiVector3D& v = na->mPositionKeys[k].mValue;
        ch->values.insert(ch->values.end(), {v.x, v.y, v.z});
      });
      add(Path::kRotation, 4, na->mNumRotationKeys, [&](unsigned k, Channel* ch) {
        ch->times.push_back(float(na->mRotationKeys[k].mTime / tps));
        const aiQuaternion& q = na->mRotationKeys[k].mValue;
        ch->values.insert(ch->values.end(), {q.x, q.y, q.z, q.w});
      });
      add(Path::kScale, 3, na->mNumScalingKeys, [&](unsigned k, Channel* ch) {
        ch->times.push_back(float(na->mScalingKeys[k].mTime / tps));
        const aiVector3D& v = na->mScalingKeys[k].mValue;
        ch->values.insert(ch->values.end(), {v.x, v.y, v.z});
      });
    }
    if (a->mNumMorphMeshChannels > 0) model->warnings.push_back("animation \"" + anim.name + "\": morph animation is not read from this format");
    model->animations.push_back(std::move(anim));
  }
  for (unsigned i = 0; i < s->mNumCameras; ++i) {
    const aiCamera* c = s->mCameras[i];
    Camera cam;
    cam.name = c->mName.C_Str();
    const double aspect = c->mAspect > 0 ? c->mAspect : 4.0 / 3.0;
    cam.aspect = c->mAspect;
    if (c->mHorizontalFOV > 0) {
      cam.yfov = 2 * std::atan(std::tan(c->mHorizontalFOV / 2) / aspect);
    } else {
      cam.perspective = false;
      cam.xmag = c->mOrthographicWidth > 0 ? c->mOrthographicWidth : 1;
      cam.ymag = cam.xmag / aspect;
    }
    auto it = b.byName.find(cam.name);
    if (it != b.byName.end()) model->nodes[size_t(it->second)].camera = int(model->cameras.size());
    if (c->mPosition.Length() > 0 || c->mLookAt != aiVector3D(0, 0, -1) || c->mUp != aiVector3D(0, 1, 0))
      model->warnings.push_back("camera \"" + cam.name + "\": its own position and direction are ignored (the node's are used)");
    model->cameras.push_back(cam);
  }
  for (unsigned i = 0; i < s->mNumLights; ++i) {
    const aiLight* l = s->mLights[i];
    Light out;
    out.name = l->mName.C_Str();
    out.type = l->mType == aiLightSource_DIRECTIONAL ? Light::kDirectional
               : l->mType == aiLightSource_SPOT      ? Light::kSpot
                                                     : Light::kPoint;
    const double mx = std::max({l->mColorDiffuse.r, l->mColorDiffuse.g, l->mColorDiffuse.b});
    out.intensity = mx > 0 ? mx : 1;
    out.color = {l->mColorDiffuse.r / out.intensity, l->mColorDiffuse.g / out.intensity, l->mColorDiffuse.b / out.intensity};
    auto it = b.byName.find(out.name);
    if (it != b.byName.end()) model->nodes[size_t(it->second)].light = int(model->lights.size());
    model->lights.push_back(out);
  }
  return true;
}

}  // namespace vefexport
