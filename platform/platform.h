// The OS layer: the only code that includes OS headers (posix/ or win32/ is built, never both).
// Every function reports failure by its return value; nothing here logs or throws.
#pragma once
#include <cstddef>
#include <cstdint>

struct PlatformFile;  // an open file, read-only

// Opens `name` for reading; null when it cannot be opened.
PlatformFile* platform_file_open(const char* name);
// Opens a file of the caller's own (a descriptor, or a HANDLE on Windows) for reading through a
// handle of ours, which platform_file_close closes; the caller's stays open. Null on failure.
PlatformFile* platform_file_duplicate(intptr_t os_file);
// Reads up to `n` bytes at the current position; returns the count read (0 at end), -1 on error.
int64_t platform_file_read(PlatformFile* f, void* dst, uint32_t n);
// Moves to absolute byte position `pos`; false on failure.
bool platform_file_seek(PlatformFile* f, uint64_t pos);
// Size of the file in bytes, -1 when unknown.
int64_t platform_file_size(PlatformFile* f);
void platform_file_close(PlatformFile* f);

// Writes a whole file (tools only); false on failure.
bool platform_file_write_all(const char* name, const void* data, size_t n);

// Full path of the running executable into `out` (NUL-terminated); false when unknown.
bool platform_own_executable(char* out, size_t cap);

// Profile values: section "Tesmo Video Tools" and the like. Windows keeps them in win.ini;
// elsewhere they live in $XDG_CONFIG_HOME/korva/profile.ini (default ~/.config/korva/profile.ini).
// Copies the value (or `fallback`) into `out`, at most cap - 1 characters; returns its length.
size_t platform_profile_string(const char* section, const char* key, const char* fallback,
                               char* out, size_t cap);
bool platform_profile_write(const char* section, const char* key, const char* value);

// Size of the main screen in pixels; false when there is no screen (then 0 × 0).
bool platform_screen_size(int32_t* width, int32_t* height);

// Position of the file pointer; -1 on failure.
int64_t platform_file_tell(PlatformFile* f);

// Clocks. The high-resolution counter and its frequency in ticks a second (false: none), and a
// coarse millisecond clock that keeps running when the counter misbehaves.
bool platform_hires_frequency(uint64_t* ticks_per_second);
uint64_t platform_hires_counter();
uint32_t platform_coarse_ms();

// True when standard error is a terminal (tools show progress there).
bool platform_stderr_is_terminal();
void platform_sleep_ms(uint32_t ms);

// Today's local date; false when unknown.
bool platform_local_date(int32_t* year, int32_t* month, int32_t* day);
// Opens a web page in the user's browser without waiting for it; failures are not reported.
void platform_open_web_page(const char* address);
// Whether a file of that name exists.
bool platform_file_exists(const char* name);
// Gives `name` the executable permissions of `like` (no-op where files have none); false on
// failure.
bool platform_copy_mode(const char* like, const char* name);
// Renames a file, replacing `to`; false on failure.
bool platform_rename(const char* from, const char* to);
bool platform_remove(const char* name);
// Standard input and output carry bytes as they are (Windows would otherwise translate line
// ends); a no-op where there is no difference.
void platform_binary_stdio();
