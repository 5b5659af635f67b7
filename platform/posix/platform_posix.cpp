#include "platform/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <time.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct PlatformFile { int fd; };

namespace {

// A record for an open descriptor (closed on failure); directories are refused.
PlatformFile* file_of(int fd) {
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) { ::close(fd); return nullptr; }
  PlatformFile* f = static_cast<PlatformFile*>(std::malloc(sizeof(PlatformFile)));
  if (!f) { ::close(fd); return nullptr; }
  f->fd = fd;
  return f;
}

}  // namespace

PlatformFile* platform_file_open(const char* name) { return file_of(::open(name, O_RDONLY | O_CLOEXEC)); }

PlatformFile* platform_file_duplicate(intptr_t os_file) {
  if (os_file < 0 || os_file > INT32_MAX) return nullptr;
  // A file of its own where the system offers one (its position apart from the caller's),
  // else a duplicate descriptor.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", int(os_file));
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) fd = ::fcntl(int(os_file), F_DUPFD_CLOEXEC, 0);
  return file_of(fd);
}

int64_t platform_file_read(PlatformFile* f, void* dst, uint32_t n) {
  uint8_t* p = static_cast<uint8_t*>(dst);
  int64_t done = 0;
  while (done < n) {
    ssize_t r = ::read(f->fd, p + done, n - done);
    if (r < 0) { if (errno == EINTR) continue; return done ? done : -1; }
    if (r == 0) break;
    done += r;
  }
  return done;
}

bool platform_file_seek(PlatformFile* f, uint64_t pos) {
  return ::lseek(f->fd, off_t(pos), SEEK_SET) == off_t(pos);
}

int64_t platform_file_size(PlatformFile* f) {
  struct stat st;
  return fstat(f->fd, &st) == 0 ? int64_t(st.st_size) : -1;
}

void platform_file_close(PlatformFile* f) {
  if (!f) return;
  ::close(f->fd);
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
  ssize_t n = ::readlink("/proc/self/exe", out, cap - 1);
  if (n <= 0 || size_t(n) >= cap - 1) { out[0] = 0; return false; }
  out[n] = 0;
  return true;
}

static std::string profile_path() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) base = xdg;
  else if (const char* home = std::getenv("HOME")) base = std::string(home) + "/.config";
  else return std::string();
  return base + "/korva/profile.ini";
}

static std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

static std::string read_text(const std::string& path) {
  std::string text;
  FILE* fp = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
  if (!fp) return text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) text.append(buf, n);
  std::fclose(fp);
  return text;
}

// Walks the ini text; calls `on_key` for each key=value line of `section` (case-insensitive
// names, as the Windows profile functions compare them).
template <class F>
static void walk_section(const std::string& text, const char* section, F on_key) {
  bool in = false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = trim(text.substr(pos, eol - pos));
    if (!line.empty() && line[0] == '[') {
      size_t close = line.find(']');
      in = close != std::string::npos && strcasecmp(trim(line.substr(1, close - 1)).c_str(), section) == 0;
    } else if (in) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) on_key(trim(line.substr(0, eq)), trim(line.substr(eq + 1)), pos, eol);
    }
    pos = eol + 1;
  }
}

size_t platform_profile_string(const char* section, const char* key, const char* fallback,
                               char* out, size_t cap) {
  if (cap == 0) return 0;
  std::string value = fallback ? fallback : "";
  bool found = false;
  walk_section(read_text(profile_path()), section, [&](const std::string& k, const std::string& v, size_t, size_t) {
    if (!found && strcasecmp(k.c_str(), key) == 0) { value = v; found = true; }
  });
  size_t n = value.size() < cap - 1 ? value.size() : cap - 1;
  std::memcpy(out, value.data(), n);
  out[n] = 0;
  return n;
}

bool platform_profile_write(const char* section, const char* key, const char* value) {
  std::string path = profile_path();
  if (path.empty()) return false;
  std::string text = read_text(path);
  std::string line = std::string(key) + "=" + value;
  bool done = false;
  size_t section_end = std::string::npos;
  walk_section(text, section, [&](const std::string& k, const std::string&, size_t a, size_t b) {
    if (!done && strcasecmp(k.c_str(), key) == 0) { text.replace(a, b - a, line); done = true; }
  });
  if (!done) {
    // Append to the section, or add the section at the end.
    std::string head = std::string("[") + section + "]";
    size_t at = text.find(head);
    if (at != std::string::npos) {
      section_end = text.find('\n', at);
      if (section_end == std::string::npos) { text += "\n"; section_end = text.size() - 1; }
      text.insert(section_end + 1, line + "\n");
    } else {
      if (!text.empty() && text.back() != '\n') text += "\n";
      text += head + "\n" + line + "\n";
    }
  }
  std::string dir = path.substr(0, path.rfind('/'));
  std::string parent = dir.substr(0, dir.rfind('/'));
  ::mkdir(parent.c_str(), 0755);
  ::mkdir(dir.c_str(), 0755);
  return platform_file_write_all(path.c_str(), text.data(), text.size());
}

bool platform_screen_size(int32_t* width, int32_t* height) {
  // The SDL front end asks SDL; headless tools have no screen.
  *width = 0;
  *height = 0;
  return false;
}

int64_t platform_file_tell(PlatformFile* f) { return int64_t(::lseek(f->fd, 0, SEEK_CUR)); }

bool platform_hires_frequency(uint64_t* ticks_per_second) {
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC_RAW, &ts) != 0) return false;
  *ticks_per_second = 1000000000ull;
  return true;
}

uint64_t platform_hires_counter() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
  return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

uint32_t platform_coarse_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

bool platform_stderr_is_terminal() { return ::isatty(2) == 1; }

bool platform_local_date(int32_t* year, int32_t* month, int32_t* day) {
  const time_t now = time(nullptr);
  struct tm t;
  if (!localtime_r(&now, &t)) return false;
  *year = t.tm_year + 1900;
  *month = t.tm_mon + 1;
  *day = t.tm_mday;
  return true;
}

extern char** environ;

void platform_open_web_page(const char* address) {
  // The child is not waited for; with SIGCHLD ignored it leaves no zombie behind.
  signal(SIGCHLD, SIG_IGN);
  char program[] = "xdg-open";
  char* argv[] = {program, const_cast<char*>(address), nullptr};
  pid_t pid;
  posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
}

bool platform_file_exists(const char* name) {
  struct stat st;
  return name && stat(name, &st) == 0;
}

bool platform_copy_mode(const char* like, const char* name) {
  struct stat st;
  return stat(like, &st) == 0 && chmod(name, st.st_mode & 07777) == 0;
}

bool platform_rename(const char* from, const char* to) { return rename(from, to) == 0; }
bool platform_remove(const char* name) { return unlink(name) == 0; }

void platform_sleep_ms(uint32_t ms) {
  struct timespec ts = {time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void platform_binary_stdio() {}
