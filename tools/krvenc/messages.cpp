// krvenc's messages on standard error.
#include <cstdarg>
#include <cstdio>

#include "tools/krvenc/krvenc.h"

namespace {
bool g_quiet = false;
}  // namespace

void krvenc_set_quiet(bool quiet) { g_quiet = quiet; }

int krvenc_fail(const char* fmt, ...) {
  if (g_quiet) return 1;
  std::fputs("krvenc: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  return 1;
}

void krvenc_note(const char* fmt, ...) {
  if (g_quiet) return;
  std::fputs("krvenc: note: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}
