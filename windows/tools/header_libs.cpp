// The implementations of the header-only libraries vefexport uses (Debian's
// tinygltf and stb headers). On Linux they come as the packages' shared
// libraries; for Windows they are compiled here, from the same headers.
#define TINYGLTF_IMPLEMENTATION
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <tiny_gltf.h>
