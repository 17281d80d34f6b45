// The default scene's script: its textures and materials, the actors (the
// hall, the morphing orb, the ring, cubes and crystals) with their moves on
// the beat, the lights, and per frame the keys of what the shot shows. The
// geometry is in Geometry.h, the camera moves in Shots.h.
//
// Every object key is baked with its frame's camera by the importer, so a key
// blended towards a key of another camera shot would smear across the cut.
// Each mesh therefore exists twice (two banks); shots alternate between the
// banks, so a key before a cut has no partner after it and holds still.
#include "SceneGen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Geometry.h"
#include "Shots.h"
#include "Textures.h"

namespace demogen {
namespace {

vef::TextureRecord Record(const Texture565& t) {
  vef::TextureRecord r;
  r.side = uint32_t(t.side);
  r.texels = t.texels;
  return r;
}

vef::TextureRecord Record(const TexturePaletted& t) {
  vef::TextureRecord r;
  r.side = uint32_t(t.side);
  r.rgb565 = false;
  r.palette = t.palette;
  r.indices = t.indices;
  return r;
}

template <typename T>
int32_t AddTexture(vef::SceneWriter* w, const T& texture) {
  return w->addTexture(Record(texture));
}

int32_t AddMaterial(vef::SceneWriter* w, int32_t texture, vef::ColorField diffuse) {
  vef::MaterialRecord m;
  m.color0 = {vef::ColorField::kBlack, {}};
  m.diffuse = diffuse;
  m.color2 = vef::ColorField::Bytes(40, 40, 40);
  if (texture) m.texture = texture;
  return w->addMaterial(m);
}

// ------------------------------------------------------------------ actors --

// A placement of an object in one frame.
struct Pose {
  V3 angles{0, 0, 0};       // radians
  V3 translation{0, 0, 0};  // world space
};

struct Actor {
  std::string name;
  int32_t mesh[2] = {0, 0};          // per bank
  float radius = 1;                  // bounding sphere around the translation
  bool fixed = false;                // placed by its mesh's matrix (statically lit)
  V3 fixedCentre{0, 0, 0};           // world centre of a fixed actor
  bool extraByte = false;            // its keys carry the ignored byte
  std::function<Pose(float beat)> pose;  // moving actors
};

// Strength of the orb's spikes at a beat: pulses peak exactly on the beats.
float SpikeAmount(float beat) {
  int bar = int(beat / 4.0f);
  float pulse = std::exp(-4.0f * Fraction(beat));
  switch (SectionOfBar(bar)) {
    case Section::Intro: return 0.04f + 0.04f * Smooth(beat / 16.0f);
    case Section::Groove: return 0.08f + 0.22f * pulse;
    case Section::Theme: return 0.1f + 0.3f * pulse;
    case Section::Breakdown: return 0.1f + 0.55f * Smooth((beat - 80.0f) / 16.0f);
    case Section::Drop: return 0.4f + 0.3f * pulse;
    case Section::Outro: return 0.45f * (1.0f - Smooth((beat - 128.0f) / 12.0f)) + 0.03f;
  }
  return 0.0f;
}

bool DrumsPlay(float beat) {
  Section s = SectionOfBar(int(beat / 4.0f));
  return s == Section::Groove || s == Section::Theme || s == Section::Drop;
}

// The scene's materials, by what they cover.
struct Materials {
  int32_t floor, mosaic, stone, bronze, plasma, bricks, gold, circuit, checker, stripes;
  int32_t crystal[3];
};

// The textures (all four sizes, both encodings) and the materials over them.
Materials AddMaterials(vef::SceneWriter* w) {
  int32_t texFloor = AddTexture(w, FloorTiles());
  int32_t texMosaic = AddTexture(w, Mosaic());
  int32_t texStone = AddTexture(w, ColumnStone());
  int32_t texPlasma = AddTexture(w, Plasma());
  int32_t texCircuit = AddTexture(w, Circuit());
  int32_t texBricks = AddTexture(w, Bricks());
  int32_t texChecker = AddTexture(w, Checker());
  int32_t texStripes = AddTexture(w, Stripes());

  using CF = vef::ColorField;
  Materials m;
  m.floor = AddMaterial(w, texFloor, {CF::kWhite, {}});
  m.mosaic = AddMaterial(w, texMosaic, {CF::kWhite, {}});
  m.stone = AddMaterial(w, texStone, {CF::kWhite, {}});
  m.bronze = AddMaterial(w, 0, CF::Bytes(217, 150, 82));
  m.plasma = AddMaterial(w, texPlasma, {CF::kWhite, {}});
  m.bricks = AddMaterial(w, texBricks, {CF::kWhite, {}});
  m.gold = AddMaterial(w, 0, CF::Bytes(255, 205, 90));
  m.circuit = AddMaterial(w, texCircuit, {CF::kWhite, {}});
  m.checker = AddMaterial(w, texChecker, {CF::kWhite, {}});
  m.stripes = AddMaterial(w, texStripes, {CF::kWhite, {}});
  m.crystal[0] = AddMaterial(w, 0, CF::Bytes(90, 230, 255));
  m.crystal[1] = AddMaterial(w, 0, CF::Bytes(255, 90, 200));
  m.crystal[2] = AddMaterial(w, 0, CF::Bytes(160, 255, 90));
  return m;
}

// The actors, each mesh written once per bank as it joins.
struct Cast {
  vef::SceneWriter* w;
  std::vector<Actor> actors;

  void add(Actor a, const MeshDef& def, const std::optional<vef::MatrixBlock>& placement) {
    for (int bank = 0; bank < 2; ++bank) a.mesh[bank] = WriteMesh(w, def, placement);
    actors.push_back(std::move(a));
  }
};

const float kOrbRadius = 0.95f;
const V3 kOrbCentre{0, 2.65f, 0};

// The hall: floor, pedestal and columns, placed once by their meshes.
void AddHall(const Materials& mat, Cast* cast) {
  vef::SceneWriter* w = cast->w;
  // The floor: 32 x 32 one-metre quads, the inlay around the pedestal first.
  {
    Geometry g;
    const int n = 32;
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) {
        float x = float(i - n / 2), z = float(j - n / 2);
        g.Vertex({x, 0, z}, x / 4.0f, z / 4.0f);
      }
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        int a = j * (n + 1) + i;
        float cx = float(i - n / 2) + 0.5f, cz = float(j - n / 2) + 0.5f;
        int slot = (cx * cx + cz * cz < 3.3f * 3.3f) ? 0 : 1;
        g.Quad(a, a + 1, a + n + 2, a + n + 1, {0, 1, 0}, slot);
      }
    Actor a;
    a.name = "floor";
    a.fixed = true;
    a.radius = 1e6f;  // always in view
    cast->add(a, WriteGeometry(w, g, {mat.mosaic, mat.floor}, true), vef::MatrixBlock::Translation(0, 0, 0));
  }
  // The pedestal under the orb.
  {
    Geometry g;
    AddBox(g, {-0.8f, 0, -0.8f}, {0.8f, 1.3f, 0.8f}, 0, 1.0f);
    Actor a;
    a.name = "pedestal";
    a.fixed = true;
    a.fixedCentre = {0, 0.65f, 0};
    a.radius = 1.5f;
    cast->add(a, WriteGeometry(w, g, {mat.bricks}, true), vef::MatrixBlock::Translation(0, 0, 0));
  }
  // Eight columns: stone shaft, bronze base and capital.
  {
    Geometry g;
    AddShaft(g, 0.42f, 0.5f, 5.1f, 12, 4, 0);
    AddBox(g, {-0.6f, 0, -0.6f}, {0.6f, 0.5f, 0.6f}, 1);
    AddBox(g, {-0.65f, 5.1f, -0.65f}, {0.65f, 5.5f, 0.65f}, 1);
    MeshDef def = WriteGeometry(w, g, {mat.stone, mat.bronze}, true);
    for (int k = 0; k < 8; ++k) {
      float ang = float(k) * kPi / 4.0f + kPi / 8.0f;
      V3 at{9.5f * std::cos(ang), 0, -9.5f * std::sin(ang)};
      vef::MatrixBlock place;
      place.angles = vef::Float3{{0, ang, 0}};
      place.translation = F3(at);
      Actor a;
      a.name = "column";
      a.fixed = true;
      a.fixedCentre = at + V3{0, 2.75f, 0};
      a.radius = 3.0f;
      cast->add(a, def, place);
    }
  }
}

// The orb and its spikes, which pulse with the music's sections.
struct Orb {
  Geometry geometry;
  std::vector<V3> directions;  // of each rest vertex from the centre
  std::vector<V3> spikeAxes;

  Orb() {
    AddSphere(geometry, 1.0f, 9, 14, 0);
    for (V3 p : geometry.positions) directions.push_back(Normalize(p));
    for (int s = -1; s <= 1; s += 2) {
      spikeAxes.push_back({float(s), 0, 0});
      spikeAxes.push_back({0, float(s), 0});
      spikeAxes.push_back({0, 0, float(s)});
    }
    for (int k = 0; k < 8; ++k)
      spikeAxes.push_back(Normalize({(k & 1) ? 1.0f : -1.0f, (k & 2) ? 1.0f : -1.0f, (k & 4) ? 1.0f : -1.0f}));
  }

  // The morph list of the orb at a beat.
  vef::VertexListRecord Shape(float beat) const {
    float amount = SpikeAmount(beat);
    vef::VertexListRecord morph;
    for (V3 d : directions) {
      float spike = 0;
      for (V3 axis : spikeAxes) spike += std::pow(std::max(0.0f, Dot(d, axis)), 12.0f);
      float wobble = 0.06f * std::sin(3.0f * d[0] + beat * 0.9f) * std::sin(2.5f * d[1] + beat * 0.6f);
      morph.positions.push_back(F3(d * (kOrbRadius * (1.0f + amount * spike + wobble))));
    }
    return morph;
  }
};

// The moving actors: the orb (drawn unlit by the demo: its plasma texture
// glows), the ring, the cubes and the crystals.
void AddMovers(const Materials& mat, const Orb& orb, Cast* cast) {
  vef::SceneWriter* w = cast->w;
  {
    Actor a;
    a.name = "orb";
    a.radius = kOrbRadius * 1.8f;
    a.pose = [](float beat) {
      return Pose{{0.25f * std::sin(beat * 0.07f), beat * 0.12f, 0}, kOrbCentre + V3{0, 0.08f * std::sin(beat * 0.4f), 0}};
    };
    cast->add(a, WriteGeometry(w, orb.geometry, {mat.plasma}, true), std::nullopt);
  }
  // The golden ring tumbling around the orb (per-frame lit).
  {
    Geometry g;
    AddTorus(g, 1.8f, 0.11f, 24, 8, 0);
    Actor a;
    a.name = "ring";
    a.radius = 2.0f;
    a.pose = [](float beat) {
      return Pose{{1.1f + 0.4f * std::sin(beat * 0.1f), beat * 0.25f, 0.3f * std::sin(beat * 0.07f)}, kOrbCentre};
    };
    cast->add(a, WriteGeometry(w, g, {mat.gold}, false), std::nullopt);
  }
  // Four textured cubes orbiting the orb.
  {
    const int32_t cubeMaterials[4] = {mat.circuit, mat.checker, mat.stripes, mat.bricks};
    for (int i = 0; i < 4; ++i) {
      Geometry g;
      AddBox(g, {-0.32f, -0.32f, -0.32f}, {0.32f, 0.32f, 0.32f}, 0, 1.0f);
      Actor a;
      a.name = "cube";
      a.radius = 0.6f;
      a.pose = [i](float beat) {
        float th = beat * 0.15f + float(i) * kPi / 2.0f;
        V3 at{3.4f * std::cos(th), 0.45f * std::sin(beat * kPi / 4.0f + float(i) * 1.3f), -3.4f * std::sin(th)};
        return Pose{{beat * 0.4f + float(i), beat * 0.55f + 2.0f * float(i), 0.3f * float(i)}, kOrbCentre + at};
      };
      cast->add(a, WriteGeometry(w, g, {cubeMaterials[i]}, true), std::nullopt);
    }
  }
  // Six crystals hopping on the beat while the drums play.
  for (int i = 0; i < 6; ++i) {
    Geometry g;
    AddCrystal(g, 0.7f, 0.36f, 0);
    Actor a;
    a.name = "crystal";
    a.radius = 1.0f;
    a.extraByte = true;
    a.pose = [i](float beat) {
      float ang = float(i) * kPi / 3.0f + kPi / 6.0f;
      float hop = 0.25f + 0.2f * std::sin(beat * kPi / 8.0f + float(i));
      if (DrumsPlay(beat)) {
        float f = 2.0f * Fraction(beat) - 1.0f;
        hop = 0.25f + 0.75f * (1.0f - f * f);  // lands on every beat
      }
      return Pose{{0, beat * 0.6f + float(i), 0}, {5.4f * std::cos(ang), 0.75f + hop, -5.4f * std::sin(ang)}};
    };
    cast->add(a, WriteGeometry(w, g, {mat.crystal[i % 3]}, false), std::nullopt);
  }
}

// Four point lights: warm and cool from the sides, white from above, and a
// violet one inside the orb, which seems to light the hall itself.
void AddLights(vef::SceneWriter* w) {
  struct {
    uint8_t r, g, b;
    float intensity;
    V3 at;
  } const lights[4] = {{255, 185, 120, 0.75f, {-4.5f, 6.5f, 3.5f}},
                       {110, 150, 255, 0.65f, {5.0f, 4.5f, -4.0f}},
                       {255, 255, 255, 0.35f, {0.5f, 11.0f, 1.0f}},
                       {200, 130, 255, 0.55f, kOrbCentre}};
  for (const auto& l : lights) {
    vef::LightRecord light;
    light.color = {{l.r, l.g, l.b}};
    light.intensity = l.intensity;
    light.matrix = vef::MatrixBlock::Translation(l.at[0], l.at[1], l.at[2]);
    w->addLight(light);
  }
}

}  // namespace

void BuildScene(const Timeline& timeline, vef::SceneWriter* w) {
  const Materials mat = AddMaterials(w);
  Cast cast{w, {}};
  AddHall(mat, &cast);
  const size_t orbActor = cast.actors.size();
  const Orb orb;
  AddMovers(mat, orb, &cast);
  AddLights(w);
  const std::vector<Actor>& actors = cast.actors;

  // The frames: per frame the camera key and the keys of the actors in view.
  const int frames = int(timeline.FrameCount());
  const int framesPerShot = kBeatsPerShot * kFramesPerBeat;
  auto shotOf = [&](int f) { return std::min(f, frames - 2) / framesPerShot; };
  auto beatOf = [](int f) { return float(f) / float(kFramesPerBeat); };
  auto viewOf = [&](int f) {
    int shot = shotOf(f);
    float u = float(f - shot * framesPerShot) / float(framesPerShot);
    return MakeView(ShotCamera(shot, u));
  };
  auto visible = [&](const Actor& a, int f) {
    if (f < 0 || f >= frames) return false;
    V3 centre = a.fixed ? a.fixedCentre : a.pose(beatOf(f)).translation;
    return InView(viewOf(f), centre, a.radius);
  };

  for (int f = 0; f < frames; ++f) {
    const int shot = shotOf(f);
    const int bank = shot % 2;
    const float beat = beatOf(f);
    const View view = viewOf(f);

    vef::KeyRecord camera;
    camera.frame = f;
    camera.camera = true;
    camera.matrix = CameraBlock(view);
    w->addKey(camera);

    for (const Actor& a : actors) {
      // A key exists while the object is in view, and one frame either side
      // within the shot, so that it blends in and out of view smoothly.
      bool include = visible(a, f) || (shotOf(f + 1) == shot && visible(a, f + 1)) ||
                     (f > 0 && shotOf(f - 1) == shot && visible(a, f - 1));
      if (!include) continue;
      vef::KeyRecord key;
      key.frame = f;
      key.object = true;
      key.mesh = a.mesh[bank];
      key.ignored = uint32_t(f);
      if (a.extraByte) key.extraByte = uint8_t(f & 0xFF);
      if (a.fixed) {
        key.noMatrix = true;
      } else {
        Pose p = a.pose(beat);
        key.matrix.angles = F3(p.angles);
        key.matrix.translation = F3(p.translation);
      }
      if (&a == &actors[orbActor]) key.morph = w->addVertexList(orb.Shape(beat));
      w->addKey(key);
    }
  }
}

}  // namespace demogen
