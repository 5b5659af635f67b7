// Paths as long as movie names may be, for the tests of the name limits.
#pragma once
#include <filesystem>
#include <string>
#include <system_error>

// A path of exactly `length` characters under `base`: directories of 200 characters, then a
// movie file name ending in ".krv". The directories are made.
inline std::string long_movie_path(const std::string& base, size_t length) {
  std::string dir = base;
  while (length - dir.size() > 250) dir += "/" + std::string(200, 'd');
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir + "/" + std::string(length - dir.size() - 1 - 4, 'm') + ".krv";
}
