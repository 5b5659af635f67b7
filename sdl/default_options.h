// The default options string of the Linux player: 512 characters padded with '~' inside the
// executable, after a marker that `krvtool bundle` looks for to write a movie's `:OFFSET` and
// switches there (Windows keeps the string as string resource 1).
#pragma once

constexpr char kOptionsStoreMarker[] = "KorvaOptionStore";  // 16 characters
constexpr unsigned kOptionsStoreMarkerBytes = 16;

// The 512 stored characters, NUL-terminated, as the executable holds them now.
const char* default_options_store();
