#include "container/movie_name.h"

#include <cstring>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool has_extension(const char* name) {
  for (size_t i = std::strlen(name); i-- > 0;) {
    char c = name[i];
    if (c == '.') return true;
    if (c == ':' || c == '\\' || c == '/') return false;
  }
  return false;
}

bool parse_offset(const char* p, uint64_t* out) {
  if (!is_digit(*p)) return false;
  uint64_t v = 0;
  for (; is_digit(*p); ++p) {
    if (v > (uint64_t(1) << 40)) return false;
    v = v * 10 + uint64_t(*p - '0');
  }
  while (*p == ' ') ++p;
  if (*p) return false;
  *out = v;
  return true;
}

}  // namespace

bool resolve_movie_name(const char* name, ResolvedName* out, const char** error) {
  *out = ResolvedName{};
  size_t len = std::strlen(name);
  if (len > kMovieNameMax) { *error = kMovieNameTooLong; return false; }
  if (name[0] == ':') {
    out->kind = kNameOwnExecutable;
    if (!parse_offset(name + 1, &out->offset)) { *error = "The movie offset after ':' is not a number."; return false; }
    return true;
  }
  if (const char* bar = std::strchr(name, '|')) {
    out->kind = kNameFileAtOffset;
    size_t n = size_t(bar - name);
    if (n == 0) { *error = "No file name before '|'."; return false; }
    std::memcpy(out->file, name, n);
    out->file[n] = 0;
    if (!parse_offset(bar + 1, &out->offset)) { *error = "The movie offset after '|' is not a number."; return false; }
    return true;
  }
  out->kind = kNamePlain;
  bool add = !has_extension(name);
  static_assert(sizeof out->file > kMovieNameMax + 4, "a name and \".krv\" fit");
  std::memcpy(out->file, name, len + 1);
  if (add) std::memcpy(out->file + len, ".krv", 5);
  return true;
}
