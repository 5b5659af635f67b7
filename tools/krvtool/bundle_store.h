// Where a player executable keeps its default options string (kDefaultOptionsStore characters):
// the Linux player after a marker in its data, the Windows player in string resource 1. The
// searches read nothing outside the image they are given.
#pragma once
#include <cstdint>
#include <vector>

struct ExecutableKind {
  const char* name;
  // The byte offset of the stored characters, or -1 with an error text.
  int64_t (*find)(const std::vector<uint8_t>& image, const char** error);
  // Writes the store (kDefaultOptionsStore characters) at the offset `find` gave.
  void (*write)(std::vector<uint8_t>* image, int64_t at, const char* store);
};

// The kinds known, tried in order.
extern const ExecutableKind kExecutableKinds[2];
