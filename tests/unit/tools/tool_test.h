// What the tests of the command-line tools share: the test folder, the built krvtool, running a
// command and reading what it wrote.
#pragma once
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

inline std::string tmp(const std::string& name) { return std::string(KORVA_TEST_TMP) + "/" + name; }
inline std::string tool() { return tmp("../krvtool"); }

// Runs a shell command; its exit code (-1 when it did not exit normally).
inline int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string read_text(const std::string& name) {
  std::ifstream f(name);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::vector<uint8_t> read_all(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}
