// Prints the default options store of its own executable up to the first '~': a stand-in for
// the player in the tests of krvtool bundle.
#include <cstdio>
#include <cstring>

#include "sdl/default_options.h"

int main() {
  const char* store = default_options_store();
  const char* end = std::strchr(store, '~');
  std::printf("%.*s\n", int(end ? end - store : std::strlen(store)), store);
  return 0;
}
