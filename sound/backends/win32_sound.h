// The Windows sound back ends: DirectSound (the player's default; DSOUND.DLL is loaded at run
// time, so the program starts without it) and waveOut (the /Z switch). Both are polled by the
// sound pump; neither has a thread or a device callback of its own.
//
//   sound_use_system(use_waveout ? win32_waveout_provider : win32_dsound_provider, nullptr);
#pragma once

#include "sound/sound_output.h"

// Takes an IDirectSound supplied by the caller, or null to have the back end create (and
// release) its own on the default device with the priority level for the program's main
// window. Returns the DirectSound open function, or null when DirectSound cannot be used.
sound_open_fn win32_dsound_provider(void* direct_sound);
// Ignores its argument; returns the waveOut open function.
sound_open_fn win32_waveout_provider(void* unused);
