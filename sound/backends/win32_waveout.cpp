// waveOut device operations for the portable waveOut back end (waveout_core.h).
#include <cstddef>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>

#include "sound/backends/waveout_core.h"
#include "sound/backends/win32_sound.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(WAVEHDR) == 32, "WAVEHDR is 32 bytes in the 32-bit build");
#endif
static_assert(sizeof(WaveHeader) == sizeof(WAVEHDR), "WaveHeader is laid out like WAVEHDR");
static_assert(offsetof(WaveHeader, data) == offsetof(WAVEHDR, lpData), "lpData");
static_assert(offsetof(WaveHeader, length) == offsetof(WAVEHDR, dwBufferLength), "dwBufferLength");
static_assert(offsetof(WaveHeader, flags) == offsetof(WAVEHDR, dwFlags), "dwFlags");
static_assert(offsetof(WaveHeader, next) == offsetof(WAVEHDR, lpNext), "lpNext");
static_assert(kWaveHeaderDone == WHDR_DONE, "done flag");

namespace {

HWAVEOUT handle(void* device) { return static_cast<HWAVEOUT>(device); }
WAVEHDR* header(WaveHeader* h) { return reinterpret_cast<WAVEHDR*>(h); }

void* wave_open(uint32_t rate, uint32_t bits, uint32_t channels) {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = WORD(channels);
  format.nSamplesPerSec = rate;
  format.nAvgBytesPerSec = bits / 8 * channels * rate;
  format.nBlockAlign = WORD(bits / 8 * channels);
  format.wBitsPerSample = WORD(bits);
  format.cbSize = 0;
  HWAVEOUT device = nullptr;
  if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return nullptr;
  return device;
}

void wave_prepare(void* d, WaveHeader* h) { waveOutPrepareHeader(handle(d), header(h), sizeof(WAVEHDR)); }
void wave_write(void* d, WaveHeader* h) { waveOutWrite(handle(d), header(h), sizeof(WAVEHDR)); }
void wave_pause(void* d) { waveOutPause(handle(d)); }
void wave_restart(void* d) { waveOutRestart(handle(d)); }
void wave_reset(void* d) { waveOutReset(handle(d)); }
void wave_unprepare(void* d, WaveHeader* h) { waveOutUnprepareHeader(handle(d), header(h), sizeof(WAVEHDR)); }
void wave_close(void* d) { waveOutClose(handle(d)); }
void wave_set_volume(void* d, uint32_t left_right) { waveOutSetVolume(handle(d), left_right); }

constexpr WaveOutDevice kWaveDevice = {wave_open,      wave_prepare, wave_write,
                                       wave_pause,     wave_restart, wave_reset,
                                       wave_unprepare, wave_close,   wave_set_volume};

uint32_t win32_waveout_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels,
                            uint32_t /*open_flags*/, const SoundLength* length) {
  return waveout_open(out, &kWaveDevice, rate, bits, channels, length);
}

}  // namespace

sound_open_fn win32_waveout_provider(void*) { return win32_waveout_open; }
