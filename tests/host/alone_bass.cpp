// bass.h compiles on its own with the version 1 types.
#include <bass.h>

#include <type_traits>

static_assert(sizeof(HSTREAM) == 4 && BASS_SAMPLE_LOOP == 4, "handles and the loop flag");
static_assert(std::is_same<decltype(&BASS_ChannelGetPosition), DWORD (*)(DWORD)>::value,
              "the position is a 32-bit byte count of a 32-bit handle");
