#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "Run.h"
#include "standin/cli.h"

namespace vefexport {

const char kUsage[] =
    "Usage: vefexport MODEL -o OUT.2vef [options]\n"
    "       vefexport --timeline DEMO.json -o OUT.2vef [--music FILE.mp3] [--max-size BYTES]\n"
    "       vefexport MODEL --list\n"
    "Converts an animated model into a scene file for the demo. glTF 2.0 (.gltf, .glb)\n"
    "is read with its full animation semantics; FBX, Collada, OBJ, 3DS and the other\n"
    "formats Assimp reads are converted through Assimp (linear keys, no morph animation).\n"
    "\n"
    "Time:\n"
    "  --fps F              frames per second (default 25)\n"
    "  --seconds S          length of the scene (default: the music's, see --music,\n"
    "                       else the animation's duration)\n"
    "  --music FILE.mp3     length of the scene = the music's; frames spread over it so\n"
    "                       each is on screen at the music time it shows (default: the\n"
    "                       Sound.mp3 beside the output file, when there is one)\n"
    "  --animation NAME|N   which animation (default the first); \"all\" plays every\n"
    "                       animation at once (files with one action per object)\n"
    "  --loop               repeat the animation over the span (default: its last pose holds)\n"
    "Camera (the player's projection is fixed: 45 degrees across 800 x 600):\n"
    "  --camera NAME|N      the model's camera, animated if its node is. Its vertical\n"
    "                       field of view is kept by zooming (nodes then are baked per\n"
    "                       frame); an orthographic camera becomes a perspective one with\n"
    "                       the player's field of view, moved back along its view\n"
    "                       direction until the plane through the scene's centre shows\n"
    "                       the camera's height\n"
    "  --eye X,Y,Z --target X,Y,Z\n"
    "                       a fixed camera in model coordinates (glTF: metres, +Y up),\n"
    "                       up = +Y, the player's own projection\n"
    "  (neither)            an automatic camera framing the whole animated scene\n"
    "Light and material:\n"
    "  --no-default-lights  no key and fill light when the model has none\n"
    "  --add-lights         the key and fill light also when the model has lights\n"
    "                       (the summary warns when the model's own reach less than\n"
    "                       half of the surface in view)\n"
    "  --texture-size N     largest texture side: 256 (default), 128, 64 or 32\n"
    "  --palette            256-colour textures (libimagequant) instead of RGB565\n"
    "Timeline (several models, shots cut on the music):\n"
    "  --timeline FILE      a JSON list of shots, each with its start (seconds, or\n"
    "                       {\"bar\": B, \"beat\": N} at the file's \"tempo\"), its models\n"
    "                       (\"file\", \"position\", \"turn\", \"scale\", \"animation\", \"loop\")\n"
    "                       and its camera (\"auto\", {\"eye\", \"target\"}, a move {\"from\",\n"
    "                       \"to\"} or a model's {\"model\", \"name\"}); the scene spans the\n"
    "                       music (--music or the Sound.mp3 beside the output) and cuts\n"
    "                       on the frame nearest each start. See the README.\n"
    "Output:\n"
    "  -o, --output FILE    the scene file to write (never the model itself)\n"
    "  --max-size BYTES     refuse a larger scene before writing (default 536870912);\n"
    "                       suffixes K, M, G\n"
    "  --list               print animations, cameras, lights, meshes, the animated\n"
    "                       bounds and the camera; write nothing\n"
    "  --help, --version\n"
    "Each option's value may also follow an '=' (--fps=50).\n"
    "Exit codes: 0 done, 1 conversion failed, 2 bad command line or unreadable model,\n"
    "130 interrupted. Nothing half-written is left behind.\n";

namespace {

bool Number(const std::string& s, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *v = std::strtod(s.c_str(), &end);
  return *end == 0 && errno == 0 && std::isfinite(*v);
}

bool Triple(const std::string& s, Vec3* v) {
  size_t a = s.find(','), b = a == std::string::npos ? a : s.find(',', a + 1);
  if (b == std::string::npos || s.find(',', b + 1) != std::string::npos) return false;
  return Number(s.substr(0, a), &(*v)[0]) && Number(s.substr(a + 1, b - a - 1), &(*v)[1]) &&
         Number(s.substr(b + 1), &(*v)[2]);
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& words, Options* o, std::string* error) {
  standin::CommandLine args(words);
  while (args.Next()) {
    const std::string& a = args.Word();
    auto value = [&](std::string* out) { return args.Value(out); };
    auto badValue = [&](const std::string& v, const char* what) {
      args.Fail(a + " " + v + ": " + what);
      return false;
    };
    auto flag = [&](bool* target, bool set) {
      if (args.NoValue()) *target = set;
      return !args.Failed();
    };
    std::string v;
    double d;
    if (args.Is("--help") || args.Is("-h")) { if (!flag(&o->help, true)) break; }
    else if (args.Is("--version")) { if (!flag(&o->version, true)) break; }
    else if (args.Is("--list")) { if (!flag(&o->list, true)) break; }
    else if (args.Is("--loop")) { if (!flag(&o->exp.loop, true)) break; }
    else if (args.Is("--no-default-lights")) { if (!flag(&o->exp.defaultLights, false)) break; }
    else if (args.Is("--add-lights")) { if (!flag(&o->exp.addLights, true)) break; }
    else if (args.Is("--palette")) { if (!flag(&o->exp.palette, true)) break; }
    else if (args.Is("-o") || args.Is("--output")) { if (!value(&o->output)) break; }
    else if (args.Is("--music")) { if (!value(&o->music)) break; }
    else if (args.Is("--timeline")) { if (!value(&o->timeline)) break; }
    else if (args.Is("--animation")) {
      if (!o->exp.animation.empty()) {
        args.Fail("--animation given twice (--animation all plays every animation at once)");
        break;
      }
      if (!value(&o->exp.animation)) break;
      if (o->exp.animation.empty()) { badValue("\"\"", "names no animation"); break; }
    }
    else if (args.Is("--camera")) { if (!value(&o->exp.camera)) break; }
    else if (args.Is("--fps")) {
      if (!value(&v)) break;
      if (!Number(v, &d) || !(d > 0) || d > 1000) { badValue(v, "frames per second must be above 0 and at most 1000"); break; }
      o->exp.fps = d;
    } else if (args.Is("--seconds")) {
      if (!value(&v)) break;
      if (!Number(v, &d) || !(d > 0)) { badValue(v, "must be a positive number of seconds"); break; }
      o->exp.seconds = d;
    } else if (args.Is("--texture-size")) {
      if (!value(&v)) break;
      if (v != "256" && v != "128" && v != "64" && v != "32") { badValue(v, "must be 256, 128, 64 or 32"); break; }
      o->exp.textureSize = std::atoi(v.c_str());
    } else if (args.Is("--max-size")) {
      if (!value(&v)) break;
      std::string n = v;
      double k = 1;
      if (!n.empty() && (n.back() == 'K' || n.back() == 'M' || n.back() == 'G')) {
        k = n.back() == 'K' ? 1024.0 : n.back() == 'M' ? 1048576.0 : 1073741824.0;
        n.pop_back();
      }
      if (!Number(n, &d) || !(d > 0) || d * k > 1e15) { badValue(v, "must be a positive size in bytes"); break; }
      o->exp.maxSize = uint64_t(d * k);
    } else if (args.Is("--eye") || args.Is("--target")) {
      if (!value(&v)) break;
      Vec3 p;
      if (!Triple(v, &p)) { badValue(v, "must be three numbers X,Y,Z"); break; }
      (a == "--eye" ? o->exp.eye : o->exp.target) = p;
    } else if (args.IsOption()) {
      args.Unknown();
    } else if (o->model.empty()) {
      o->model = a;
    } else {
      args.Fail("more than one model given: " + o->model + ", " + a);
    }
  }
  if (args.Failed()) {
    *error = args.Problem();
    return false;
  }
  if (o->help || o->version) return true;
  if (!o->timeline.empty() && (!o->model.empty() || o->list)) {
    *error = !o->model.empty() ? "a model and --timeline exclude each other (the timeline names its models)"
                               : "--list takes a model, not a timeline";
    return false;
  }
  if (o->model.empty() && o->timeline.empty()) {
    *error = "no model given";
    return false;
  }
  if (!o->list && o->output.empty()) {
    *error = "no output given (-o OUT.2vef)";
    return false;
  }
  if (!o->music.empty() && o->exp.seconds) {
    *error = "--music and --seconds exclude each other";
    return false;
  }
  if (o->exp.eye.has_value() != o->exp.target.has_value()) {
    *error = "--eye and --target go together";
    return false;
  }
  if (o->exp.addLights && !o->exp.defaultLights) {
    *error = "--add-lights and --no-default-lights exclude each other";
    return false;
  }
  return true;
}

}  // namespace vefexport
