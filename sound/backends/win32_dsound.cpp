// DirectSound device operations for the portable DirectSound back end (dsound_core.h), and the
// provider that loads DSOUND.DLL at run time.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include "base/timer.h"
#include "sound/backends/dsound_core.h"
#include "sound/backends/win32_sound.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DSBUFFERDESC) == 36, "DSBUFFERDESC is 36 bytes in the 32-bit build");
#endif
static_assert(kDsoundBufferLost == DSERR_BUFFERLOST, "lost-buffer result");
static_assert(kDsoundPrimaryFlags == DSBCAPS_PRIMARYBUFFER, "primary flag");
static_assert(kDsoundTrackFlags == (DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                                    DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2),
              "track buffer flags");
static_assert(kDsoundPlayLooping == DSBPLAY_LOOPING, "looping");

namespace {

using create_fn = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

HMODULE g_library = nullptr;
create_fn g_create = nullptr;
HWND g_owner = nullptr;

IDirectSound* object_of(void* p) { return static_cast<IDirectSound*>(p); }
IDirectSoundBuffer* buffer_of(void* p) { return static_cast<IDirectSoundBuffer*>(p); }

WAVEFORMATEX pcm_format(const DsoundFormat* f) {
  WAVEFORMATEX w = {};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = WORD(f->channels);
  w.nSamplesPerSec = f->rate;
  w.nAvgBytesPerSec = f->rate * f->bits / 8 * f->channels;
  w.nBlockAlign = WORD(f->bits / 8 * f->channels);
  w.wBitsPerSample = WORD(f->bits);
  w.cbSize = 0;
  return w;
}

// The program's main window: among the top-level windows of this process, in Z order, the last
// one of the program's own module that is not a child; else the first of the process; else the
// active window.
HWND owner_window() {
  if (g_owner) return g_owner;
  const DWORD self = GetCurrentProcessId();
  const HINSTANCE module = GetModuleHandleA(nullptr);
  HWND first = nullptr, chosen = nullptr;
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != self) continue;
    if (!first) first = w;
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(w, GWLP_HINSTANCE));
    if (instance == module && !(GetWindowLongA(w, GWL_STYLE) & WS_CHILD)) chosen = w;
  }
  if (!chosen) chosen = first;
  if (!first) chosen = GetActiveWindow();
  g_owner = chosen;
  return chosen;
}

void* ds_create_object() {
  IDirectSound* object = nullptr;
  if (!g_create || FAILED(g_create(nullptr, &object, nullptr))) return nullptr;
  return object;
}

uint32_t ds_cooperate(void* object) {
  return SUCCEEDED(object_of(object)->SetCooperativeLevel(owner_window(), DSSCL_PRIORITY)) ? 1 : 0;
}

void ds_release_object(void* object) { object_of(object)->Release(); }

void* ds_create_buffer(void* object, uint32_t flags, uint32_t bytes, const DsoundFormat* format) {
  DSBUFFERDESC desc = {};
  WAVEFORMATEX pcm = {};
  desc.dwSize = sizeof(DSBUFFERDESC);
  desc.dwFlags = flags;
  desc.dwBufferBytes = bytes;
  if (format) {
    pcm = pcm_format(format);
    desc.lpwfxFormat = &pcm;
  }
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(object_of(object)->CreateSoundBuffer(&desc, &buffer, nullptr))) return nullptr;
  return buffer;
}

void ds_release_buffer(void* b) { buffer_of(b)->Release(); }

int32_t ds_get_position(void* b, uint32_t* play, uint32_t* write) {
  DWORD p = 0, w = 0;
  const HRESULT r = buffer_of(b)->GetCurrentPosition(&p, &w);
  *play = p;
  *write = w;
  return r;
}

int32_t ds_get_status(void* b, uint32_t* status) {
  DWORD s = 0;
  const HRESULT r = buffer_of(b)->GetStatus(&s);
  *status = s;
  return r;
}

int32_t ds_lock(void* b, uint32_t offset, uint32_t bytes, uint8_t** first, uint32_t* first_bytes,
                uint8_t** second, uint32_t* second_bytes) {
  void *p1 = nullptr, *p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  const HRESULT r = buffer_of(b)->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0);
  *first = static_cast<uint8_t*>(p1);
  *first_bytes = n1;
  *second = static_cast<uint8_t*>(p2);
  *second_bytes = n2;
  return r;
}

int32_t ds_unlock(void* b, uint8_t* first, uint32_t first_bytes, uint8_t* second, uint32_t second_bytes) {
  return buffer_of(b)->Unlock(first, first_bytes, second, second_bytes);
}

int32_t ds_play(void* b, uint32_t flags) { return buffer_of(b)->Play(0, 0, flags); }
int32_t ds_stop(void* b) { return buffer_of(b)->Stop(); }
int32_t ds_set_position(void* b, uint32_t offset) { return buffer_of(b)->SetCurrentPosition(offset); }

int32_t ds_set_format(void* b, const DsoundFormat* format) {
  const WAVEFORMATEX pcm = pcm_format(format);
  return buffer_of(b)->SetFormat(&pcm);
}

int32_t ds_set_volume(void* b, int32_t hundredths) { return buffer_of(b)->SetVolume(hundredths); }
int32_t ds_set_pan(void* b, int32_t pan) { return buffer_of(b)->SetPan(pan); }
int32_t ds_set_frequency(void* b, uint32_t hz) { return buffer_of(b)->SetFrequency(hz); }
int32_t ds_restore(void* b) { return buffer_of(b)->Restore(); }
uint32_t ds_clock_ms() { return ms_timer(); }
void ds_sleep_ms(uint32_t ms) { Sleep(ms); }

constexpr DsoundDevice kDsoundDevice = {
    ds_create_object, ds_cooperate,   ds_release_object, ds_create_buffer, ds_release_buffer,
    ds_get_position,  ds_get_status,  ds_lock,           ds_unlock,        ds_play,
    ds_stop,          ds_set_position, ds_set_format,    ds_set_volume,    ds_set_pan,
    ds_set_frequency, ds_restore,     ds_clock_ms,       ds_sleep_ms};

}  // namespace

sound_open_fn win32_dsound_provider(void* direct_sound) {
  if (!direct_sound && !g_create) {
    if (!g_library) {
      // No error box when the library is missing.
      const UINT mode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
      g_library = LoadLibraryA("DSOUND.DLL");
      SetErrorMode(mode);
    }
    if (g_library) {
      const FARPROC proc = GetProcAddress(g_library, "DirectSoundCreate");
      g_create = reinterpret_cast<create_fn>(reinterpret_cast<void (*)()>(proc));
    }
    if (!g_create) return nullptr;
  }
  dsound_core_install(&kDsoundDevice, direct_sound);
  if (!dsound_core_trial()) return nullptr;
  return dsound_core_open;
}
