// bass.h - the audio library's version 1 interface, the six calls the demo makes.
//
// Units: lengths and positions are bytes of the decoded 16-bit PCM at the
// stream's own rate and channel count (an MP3 decodes to mono or stereo as the
// file is). One second of a 44100 Hz stereo stream is 176400 bytes.
//
// The position is what is heard now: the output device's buffering is taken
// off. It grows in real time from 0 once the stream plays; with the loop flag it
// starts over at 0 after the end, without it it stays at the length.
//
// Failures return FALSE, a zero handle, or 0xFFFFFFFF as length and position.
// A music file that cannot be opened or decoded is reported on standard error
// with its name.
//
// Works with or without a sound device: with none (or device -2) the output is
// silent and its position still advances in real time.
#ifndef STANDIN_BASS_H
#define STANDIN_BASS_H

#include <windows.h>

typedef DWORD HSTREAM;  // a stream handle; 0 is never a valid handle

#define BASS_SAMPLE_LOOP 4  // BASS_StreamPlay: start over at the end

#ifdef __cplusplus
extern "C" {
#endif

// Opens output `device` (-1 the default device, -2 no sound, 0.. a device
// index) at `freq` Hz, 16-bit stereo. `win` is not used. FALSE when already
// initialised or the device does not exist.
BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win);

// Opens an MP3 stream from the file named `file` (mem FALSE) or from `length`
// bytes of memory at `file` (mem TRUE, the memory must outlive the stream).
// For a file, `offset` skips that many bytes and a non-zero `length` limits the
// bytes read. Returns 0 on failure.
HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length,
                                     DWORD flags);

// Starts (or resumes) the output. FALSE before BASS_Init.
BOOL WINAPI BASS_Start(void);

// Plays the stream from its start (`flush` is not needed: playing always starts
// at the beginning). `flags` BASS_SAMPLE_LOOP repeats it at its end.
BOOL WINAPI BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags);

// Length in bytes of the decoded PCM; 0xFFFFFFFF for an unknown handle.
DWORD WINAPI BASS_StreamGetLength(HSTREAM handle);

// Bytes of the decoded PCM heard so far in the current pass; 0xFFFFFFFF for an
// unknown handle.
DWORD WINAPI BASS_ChannelGetPosition(DWORD handle);

#ifdef __cplusplus
}
#endif

#endif
