#include "DemoTimeline.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "ExportPlan.h"
#include "Pose.h"
#include "SceneFormat.h"
#include "Vector3.h"

namespace vefexport {

namespace {

using Json = nlohmann::json;

// Field readers: false with `error` naming `where` and the field.
struct Reader {
  std::string* error;

  bool fail(const std::string& where, const std::string& what) const {
    *error = where + ": " + what;
    return false;
  }
  bool number(const Json& j, const std::string& where, double* out) const {
    if (!j.is_number() || !std::isfinite(j.get<double>())) return fail(where, "must be a number");
    *out = j.get<double>();
    return true;
  }
  bool point(const Json& j, const std::string& where, Vec3* out) const {
    if (!j.is_array() || j.size() != 3) return fail(where, "must be three numbers [x, y, z]");
    for (size_t k = 0; k < 3; ++k)
      if (!number(j[k], where, &(*out)[k])) return false;
    return true;
  }
  bool eyeTarget(const Json& j, const std::string& where, Vec3* eye, Vec3* target) const {
    if (!j.is_object() || !j.contains("eye") || !j.contains("target"))
      return fail(where, "must hold \"eye\" and \"target\"");
    return point(j["eye"], where + ".eye", eye) && point(j["target"], where + ".target", target);
  }
};

bool ParseCamera(const Json& j, const std::string& where, const Reader& r, TimelineCamera* c) {
  if (j.is_string() && j.get<std::string>() == "auto") return true;
  if (!j.is_object()) return r.fail(where, "must be \"auto\" or an object");
  if (j.contains("from") || j.contains("to")) {
    c->kind = TimelineCamera::kMove;
    return j.contains("from") && j.contains("to") ? r.eyeTarget(j["from"], where + ".from", &c->eye, &c->target) &&
                                                        r.eyeTarget(j["to"], where + ".to", &c->eyeTo, &c->targetTo)
                                                  : r.fail(where, "a move needs \"from\" and \"to\"");
  }
  if (j.contains("model")) {
    c->kind = TimelineCamera::kModel;
    if (!j["model"].is_number_integer() || j["model"].get<int64_t>() < 0) return r.fail(where + ".model", "must be a model index");
    c->model = int(std::min<int64_t>(j["model"].get<int64_t>(), 1 << 20));
    const Json name = j.value("name", Json("0"));
    c->name = name.is_string() ? name.get<std::string>() : name.is_number_integer() ? name.dump() : "";
    return !c->name.empty() || r.fail(where + ".name", "must be a camera's name or index");
  }
  c->kind = TimelineCamera::kEye;
  return r.eyeTarget(j, where, &c->eye, &c->target);
}

bool ParseModel(const Json& j, const std::string& where, const std::string& baseDir, const Reader& r, TimelineModel* m) {
  if (!j.is_object() || !j.contains("file") || !j["file"].is_string()) return r.fail(where, "needs a \"file\"");
  m->file = j["file"].get<std::string>();
  if (m->file.empty()) return r.fail(where + ".file", "is empty");
  if (m->file[0] != '/' && !baseDir.empty()) m->file = baseDir + "/" + m->file;
  if (j.contains("position") && !r.point(j["position"], where + ".position", &m->position)) return false;
  if (j.contains("turn") && !r.number(j["turn"], where + ".turn", &m->turn)) return false;
  if (j.contains("scale") && (!r.number(j["scale"], where + ".scale", &m->scale) || !(m->scale > 0)))
    return r.fail(where + ".scale", "must be a number above 0");
  if (j.contains("animation")) {
    const Json& a = j["animation"];
    if (a.is_string()) m->animation = a.get<std::string>();
    else if (a.is_number_integer()) m->animation = a.dump();
    else return r.fail(where + ".animation", "must be a name, an index or \"all\"");
  }
  if (j.contains("loop")) {
    if (!j["loop"].is_boolean()) return r.fail(where + ".loop", "must be true or false");
    m->loop = j["loop"].get<bool>();
  }
  return true;
}

// Appends `src`, placed by a new root node, to `dst`; the channels of its
// chosen animation go to `anim`, repeated to fill `span` seconds when it loops.
bool AppendModel(const Model& src, const TimelineModel& tm, double span, Model* dst, Animation* anim,
                 std::string* error) {
  const int nodeOff = int(dst->nodes.size()), meshOff = int(dst->meshes.size()), skinOff = int(dst->skins.size());
  const int camOff = int(dst->cameras.size()), matOff = int(dst->materials.size()), imgOff = int(dst->images.size());
  auto shift = [](int v, int off) { return v >= 0 ? v + off : v; };
  for (Node n : src.nodes) {
    for (int& c : n.children) c += nodeOff;
    n.mesh = shift(n.mesh, meshOff);
    n.skin = shift(n.skin, skinOff);
    n.camera = shift(n.camera, camOff);
    n.light = -1;  // the scene's lights are the timeline's own
    dst->nodes.push_back(std::move(n));
  }
  for (Mesh mesh : src.meshes) {
    for (Primitive& p : mesh.primitives) p.material = shift(p.material, matOff);
    dst->meshes.push_back(std::move(mesh));
  }
  for (Skin s : src.skins) {
    for (int& j : s.joints) j += nodeOff;
    dst->skins.push_back(std::move(s));
  }
  dst->cameras.insert(dst->cameras.end(), src.cameras.begin(), src.cameras.end());
  for (Material mat : src.materials) {
    mat.image = shift(mat.image, imgOff);
    dst->materials.push_back(std::move(mat));
  }
  dst->images.insert(dst->images.end(), src.images.begin(), src.images.end());
  for (const std::string& w : src.warnings) dst->warnings.push_back(src.file + ": " + w);
  if (!src.lights.empty()) dst->warnings.push_back(src.file + ": its lights are not used (a timeline has its own)");

  Node root;
  root.name = "placement of " + src.file;
  root.translation = tm.position;
  const double half = tm.turn * M_PI / 360;
  root.rotation = {0, std::sin(half), 0, std::cos(half)};
  root.scale = {tm.scale, tm.scale, tm.scale};
  for (int r : src.roots) root.children.push_back(r + nodeOff);
  dst->roots.push_back(int(dst->nodes.size()));
  dst->nodes.push_back(std::move(root));

  const Animation* chosen = nullptr;
  Animation all;
  if (tm.animation == "all") {
    all = AllAnimations(src);
    chosen = &all;
  } else if (!tm.animation.empty()) {
    const int i = FindByNameOrIndex(src.animations, tm.animation);
    if (i < 0) {
      *error = src.file + ": no animation \"" + tm.animation + "\"";
      return false;
    }
    chosen = &src.animations[size_t(i)];
  } else if (!src.animations.empty()) {
    chosen = &src.animations[0];
  }
  if (!chosen) return true;
  const double d = chosen->duration;
  const int cycles = tm.loop && d > 0 ? int(std::min(std::ceil(span / d), 100000.0)) : 1;
  for (const Channel& c : chosen->channels) {
    Channel out = c;
    out.node += nodeOff;
    out.times.clear();
    out.values.clear();
    const size_t stride = c.times.empty() ? 0 : c.values.size() / c.times.size();
    for (int k = 0; k < cycles; ++k)
      for (size_t i = 0; i < c.times.size(); ++i) {
        const float t = float(c.times[i] + k * d);
        // A cycle's first key replaces the previous cycle's last at the same time.
        if (!out.times.empty() && t <= out.times.back()) {
          out.times.pop_back();
          out.values.resize(out.values.size() - stride);
        }
        out.times.push_back(t);
        out.values.insert(out.values.end(), c.values.begin() + long(i * stride), c.values.begin() + long((i + 1) * stride));
      }
    anim->channels.push_back(std::move(out));
  }
  anim->duration = std::max(anim->duration, d * cycles);
  return true;
}

// Plans one shot of `count` frames `step` seconds apart: a model made of the
// shot's models (read once into `files`), the camera as options, then the
// converter's stages. The summary goes to the outcome's result.
bool PlanShot(const TimelineShot& ts, uint32_t count, double step, uint64_t maxSize,
              std::map<std::string, std::unique_ptr<Model>>* files, Model* merged, Shot* shot, const Outcome& out) {
  Plan& plan = shot->plan;
  std::string* error = out.error;
  for (const TimelineModel& tm : ts.models) {
    std::unique_ptr<Model>& m = (*files)[tm.file];
    if (!m) {
      m = std::make_unique<Model>();
      if (!LoadModelFile(tm.file, m.get(), error)) return out.badOption(*error);
    }
    if (!AppendModel(*m, tm, count * step, merged, &plan.all, error)) return out.badOption(*error);
  }
  shot->model = merged;
  plan.all.name = "of the shot's models";
  plan.animation = &plan.all;
  plan.duration = plan.all.duration;
  for (uint32_t k = 0; k < count; ++k) plan.times.push_back(k * step);
  ExportOptions& o = shot->options;
  o.viewInKeys = true;
  o.defaultLights = false;
  o.maxSize = maxSize;
  switch (ts.camera.kind) {
    case TimelineCamera::kAuto: break;
    case TimelineCamera::kMove:
      o.eyeTo = ts.camera.eyeTo;
      o.targetTo = ts.camera.targetTo;
      [[fallthrough]];
    case TimelineCamera::kEye:
      o.eye = ts.camera.eye;
      o.target = ts.camera.target;
      break;
    case TimelineCamera::kModel: {
      // The model's cameras follow those of the shot's models before it.
      size_t before = 0;
      for (int k = 0; k < ts.camera.model; ++k) before += (*files)[ts.models[size_t(k)].file]->cameras.size();
      const Model& owner = *(*files)[ts.models[size_t(ts.camera.model)].file];
      const int c = FindByNameOrIndex(owner.cameras, ts.camera.name);
      if (c < 0) return out.badOption(owner.file + ": no camera \"" + ts.camera.name + "\"");
      o.camera = std::to_string(before + size_t(c));
      break;
    }
  }
  if (!PlanInstances(*merged, &plan, out) || !PlanCamera(*merged, o, &plan, out) || !PlanBounds(*merged, &plan, out))
    return false;
  PlanViews(o, &plan, out);
  plan.lights.assign(2, PlannedLight{{0, 0, 0}, {1, 1, 1}, 1});  // the timeline's key and fill, for the limits
  if (!PlanChunks(*merged, &plan, out)) return false;
  PlanBaked(&plan, out);
  PlanTextureSlots(*merged, &plan, out);
  Summarise(*merged, o, plan, out.result);
  return true;
}

}  // namespace

bool ParseTimeline(const std::string& text, const std::string& name, const std::string& baseDir, Timeline* t,
                   std::string* error) {
  const Json j = Json::parse(text, nullptr, false);
  const Reader r{error};
  if (j.is_discarded()) return r.fail(name, "not valid JSON");
  if (!j.is_object() || !j.contains("shots") || !j["shots"].is_array() || j["shots"].empty())
    return r.fail(name, "needs a list of \"shots\"");
  double tempo = 120, beatsPerBar = 4;
  if (j.contains("tempo") && (!r.number(j["tempo"], name + ": tempo", &tempo) || !(tempo > 0)))
    return r.fail(name + ": tempo", "must be beats per minute above 0");
  if (j.contains("beatsPerBar") && (!r.number(j["beatsPerBar"], name + ": beatsPerBar", &beatsPerBar) || !(beatsPerBar >= 1)))
    return r.fail(name + ": beatsPerBar", "must be 1 or more");
  if (j.contains("fps") && (!r.number(j["fps"], name + ": fps", &t->fps) || !(t->fps > 0) || t->fps > 1000))
    return r.fail(name + ": fps", "must be above 0 and at most 1000");
  for (size_t i = 0; i < j["shots"].size(); ++i) {
    const Json& s = j["shots"][i];
    const std::string where = name + ": shot " + std::to_string(i + 1);
    TimelineShot shot;
    if (!s.is_object()) return r.fail(where, "must be an object");
    if (!s.contains("start")) return r.fail(where, "needs a \"start\"");
    const Json& start = s["start"];
    if (start.is_object()) {
      double bar = 1, beat = 1;
      if ((start.contains("bar") && !r.number(start["bar"], where + ".start.bar", &bar)) ||
          (start.contains("beat") && !r.number(start["beat"], where + ".start.beat", &beat)))
        return false;
      if (bar < 1 || beat < 1) return r.fail(where + ".start", "bars and beats count from 1");
      shot.start = ((bar - 1) * beatsPerBar + (beat - 1)) * 60 / tempo;
    } else if (!r.number(start, where + ".start", &shot.start) || shot.start < 0) {
      return r.fail(where + ".start", "must be seconds (0 or more) or {\"bar\": B, \"beat\": N}");
    }
    if (s.contains("camera") && !ParseCamera(s["camera"], where + ".camera", r, &shot.camera)) return false;
    if (!s.contains("models") || !s["models"].is_array() || s["models"].empty())
      return r.fail(where, "needs a list of \"models\"");
    for (size_t k = 0; k < s["models"].size(); ++k) {
      TimelineModel m;
      if (!ParseModel(s["models"][k], where + ".models[" + std::to_string(k) + "]", baseDir, r, &m)) return false;
      shot.models.push_back(std::move(m));
    }
    if (shot.camera.kind == TimelineCamera::kModel && size_t(shot.camera.model) >= shot.models.size())
      return r.fail(where + ".camera.model", "names no model of the shot");
    t->shots.push_back(std::move(shot));
  }
  return true;
}

uint32_t ShotFrame(double start, double musicSeconds, uint32_t frames) {
  return uint32_t(std::llround(start / musicSeconds * (frames - 1)));
}

bool ExportTimeline(const Timeline& tl, double musicSeconds, const std::string& outPath, uint64_t maxSize,
                    const volatile sig_atomic_t* interrupted, ExportResult* result, std::string* error,
                    ExportFailure* failure) {
  *failure = ExportFailure::kFailed;
  *result = ExportResult();
  const Outcome out{result, error, failure, interrupted};
  if (!(musicSeconds > 0) || musicSeconds * tl.fps > 999999) return out.badOption("the music must be 0 to 999999 frames long");
  const uint32_t frames = std::max<uint32_t>(2, uint32_t(std::llround(musicSeconds * tl.fps)) + 1);
  std::vector<uint32_t> first;
  for (size_t i = 0; i < tl.shots.size(); ++i) {
    const double s = tl.shots[i].start;
    const std::string where = "shot " + std::to_string(i + 1);
    if (i == 0 && s != 0) return out.badOption(where + ": the first shot must start at 0");
    if (s >= musicSeconds) return out.badOption(where + ": starts at " + std::to_string(s) + " s, after the music's end");
    first.push_back(ShotFrame(s, musicSeconds, frames));
    if (i > 0 && first[i] <= first[i - 1])
      return out.badOption(where + ": starts on the frame of the shot before it (frames are " +
                           std::to_string(musicSeconds / (frames - 1)) + " s apart)");
  }
  // Each model file is read once, however many shots show it.
  std::map<std::string, std::unique_ptr<Model>> files;
  std::vector<Model> merged(tl.shots.size());
  std::vector<Shot> shots(tl.shots.size());
  uint64_t keys = 0;
  for (size_t i = 0; i < tl.shots.size(); ++i) {
    const TimelineShot& ts = tl.shots[i];
    const uint32_t count = (i + 1 < first.size() ? first[i + 1] : frames) - first[i];
    const double step = musicSeconds / (frames - 1);
    Shot& shot = shots[i];
    ExportResult shotResult;
    const Outcome shotOut{&shotResult, error, failure, interrupted};
    merged[i].file = "shot " + std::to_string(i + 1);
    if (!PlanShot(ts, count, step, maxSize, &files, &merged[i], &shot, shotOut)) return false;
    shot.firstFrame = first[i];
    keys += uint64_t(count) * shot.plan.chunks.size();
    const std::string tag = "shot " + std::to_string(i + 1) + ": ";
    auto add = [&](const std::vector<std::string>& from, std::vector<std::string>* to) {
      for (const std::string& s : from) to->push_back(tag + s);
    };
    char from[32];
    std::snprintf(from, sizeof from, "%.3f s", first[i] * step);
    result->converted.push_back(tag + "frames " + std::to_string(first[i]) + " to " + std::to_string(first[i] + count - 1) +
                                ", from " + from);
    add(shotResult.converted, &result->converted);
    add(shotResult.approximated, &result->approximated);
    add(shotResult.dropped, &result->dropped);
    add(shotResult.warnings, &result->warnings);
  }
  if (keys > uint64_t(SceneFormat::kMaxObjectKeys))
    return out.refuse(std::to_string(keys) + " object keys, the format holds " + std::to_string(SceneFormat::kMaxObjectKeys) +
                      " (fewer frames: a lower \"fps\")");
  // The key and fill light, fixed relative to every shot's camera: far away
  // (nearly parallel light), upper left in front of the models and right.
  std::vector<vef::LightRecord> lights(2);
  const Vec3 dirs[2] = {{-0.5, 0.7, 1.0}, {0.8, 0.1, 0.6}};  // view space with z towards the viewer
  const float intensity[2] = {1.0f, 0.45f};
  for (size_t k = 0; k < 2; ++k) {
    const Vec3 p = vef::Mul(vef::Norm(dirs[k]), 2000.0);
    vef::MatrixBlock b;
    b.translation = vef::Float3{{float(p[0]), float(p[1]), float(p[2])}};
    lights[k].color = {{255, 255, 255}};
    lights[k].intensity = intensity[k];
    lights[k].matrix = b;
  }
  uint64_t lists = 0;
  if (!WriteShots(shots, lights, outPath, maxSize, &result->bytes, &lists, out)) return false;
  result->frames = frames;
  result->seconds = musicSeconds;
  char length[32];
  std::snprintf(length, sizeof length, "%.3f s", musicSeconds);
  result->converted.push_back(std::to_string(frames) + " frames over " + length + " of music, " +
                              std::to_string(tl.shots.size()) + " shot(s), " + std::to_string(lists) +
                              " vertex lists; lit by a key and a fill light that follow each shot's camera");
  *failure = ExportFailure::kNone;
  return true;
}

}  // namespace vefexport
