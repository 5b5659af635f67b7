#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <cstdlib>

struct PlatformFile { HANDLE h; };

PlatformFile* platform_file_open(const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  PlatformFile* f = static_cast<PlatformFile*>(std::malloc(sizeof(PlatformFile)));
  if (!f) { CloseHandle(h); return nullptr; }
  f->h = h;
  return f;
}

PlatformFile* platform_file_duplicate(intptr_t os_file) {
  HANDLE h = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(os_file), GetCurrentProcess(), &h, GENERIC_READ,
                       FALSE, 0))
    return nullptr;
  PlatformFile* f = static_cast<PlatformFile*>(std::malloc(sizeof(PlatformFile)));
  if (!f) { CloseHandle(h); return nullptr; }
  f->h = h;
  return f;
}

int64_t platform_file_read(PlatformFile* f, void* dst, uint32_t n) {
  DWORD got = 0;
  if (!ReadFile(f->h, dst, n, &got, nullptr)) return -1;
  return int64_t(got);
}

bool platform_file_seek(PlatformFile* f, uint64_t pos) {
  LARGE_INTEGER li;
  li.QuadPart = LONGLONG(pos);
  return SetFilePointerEx(f->h, li, nullptr, FILE_BEGIN) != 0;
}

int64_t platform_file_size(PlatformFile* f) {
  LARGE_INTEGER li;
  return GetFileSizeEx(f->h, &li) ? int64_t(li.QuadPart) : -1;
}

void platform_file_close(PlatformFile* f) {
  if (!f) return;
  CloseHandle(f->h);
  std::free(f);
}

bool platform_file_write_all(const char* name, const void* data, size_t n) {
  FILE* fp = std::fopen(name, "wb");
  if (!fp) return false;
  bool ok = std::fwrite(data, 1, n, fp) == n;
  ok = (std::fclose(fp) == 0) && ok;
  return ok;
}

bool platform_own_executable(char* out, size_t cap) {
  if (cap == 0) return false;
  DWORD n = GetModuleFileNameA(nullptr, out, DWORD(cap));
  if (n == 0 || n >= cap) { out[0] = 0; return false; }
  return true;
}

size_t platform_profile_string(const char* section, const char* key, const char* fallback,
                               char* out, size_t cap) {
  if (cap == 0) return 0;
  return GetProfileStringA(section, key, fallback ? fallback : "", out, DWORD(cap));
}

bool platform_profile_write(const char* section, const char* key, const char* value) {
  return WriteProfileStringA(section, key, value) != 0;
}

bool platform_screen_size(int32_t* width, int32_t* height) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
  return *width > 0 && *height > 0;
}

int64_t platform_file_tell(PlatformFile* f) {
  LARGE_INTEGER zero, pos;
  zero.QuadPart = 0;
  return SetFilePointerEx(f->h, zero, &pos, FILE_CURRENT) ? int64_t(pos.QuadPart) : -1;
}

bool platform_hires_frequency(uint64_t* ticks_per_second) {
  LARGE_INTEGER f;
  if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) return false;
  *ticks_per_second = uint64_t(f.QuadPart);
  return true;
}

uint64_t platform_hires_counter() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return uint64_t(c.QuadPart);
}

uint32_t platform_coarse_ms() { return timeGetTime(); }

bool platform_stderr_is_terminal() { return _isatty(2) != 0; }

void platform_sleep_ms(uint32_t ms) { Sleep(ms); }

bool platform_local_date(int32_t* year, int32_t* month, int32_t* day) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  *year = t.wYear;
  *month = t.wMonth;
  *day = t.wDay;
  return true;
}

void platform_open_web_page(const char* address) {
  ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOW);
}

bool platform_file_exists(const char* name) { return name && GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

bool platform_copy_mode(const char*, const char*) { return true; }

bool platform_rename(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}
bool platform_remove(const char* name) { return DeleteFileA(name) != 0; }

void platform_binary_stdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}
