#include "app/options.h"

#include <cstring>

#include "container/open_flags.h"
#include "display/surface_flags.h"

const DisplayModeEntry kDisplayModes[14] = {
    {0, 0},      {320, 200}, {320, 240}, {320, 400}, {400, 300}, {480, 360},  {512, 384},
    {640, 400},  {640, 480}, {800, 600}, {960, 720}, {1024, 768}, {1152, 864}, {1280, 1024},
};
const int32_t kDisplayDepths[7] = {16, 24, 32, 8, 1, 2, 3};

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void erase(char* text, size_t at, size_t n) {
  size_t len = std::strlen(text);
  if (at >= len) return;
  if (n > len - at) n = len - at;
  std::memmove(text + at, text + at + n, len - at - n + 1);
}

// Reads the text as the names are split: a double quote where a name begins (at the start, after
// a blank, or at the one comma that may follow a name), as a shell quotes a name with blanks,
// opens a quoted name that runs to the next double quote. Nothing inside it is a switch: paths
// with forward slashes (every path on Linux) keep their '/' there. A double quote inside an
// unquoted name is an ordinary character and quotes nothing after it.
struct NameScan {
  bool name_may_start = true;
  bool name_ended = false;  // one comma may follow
};

// The index just after the quoted name that opens at text[i], or i itself (the scan then takes
// text[i] as an ordinary character).
size_t skip_quoted_name(const char* text, size_t i, NameScan* scan) {
  const char c = text[i];
  if (c == '"' && scan->name_may_start) {
    size_t k = i + 1;
    while (text[k] && text[k] != '"') ++k;
    *scan = NameScan{false, true};
    return text[k] ? k + 1 : k;
  }
  if (uint8_t(c) <= ' ') *scan = NameScan{true, true};
  else if (c == ',' && scan->name_ended) *scan = NameScan{true, false};
  else *scan = NameScan{false, false};
  return i;
}

// Position of the first "/X" (letter compared case-insensitively) outside quoted names, or -1.
ptrdiff_t find_switch(const char* text, char letter) {
  const char want = lower(letter);
  NameScan scan;
  for (size_t i = 0; text[i];) {
    const size_t next = skip_quoted_name(text, i, &scan);
    if (next != i) { i = next; continue; }
    if (text[i] == '/' && text[i + 1] && lower(text[i + 1]) == want) return ptrdiff_t(i);
    ++i;
  }
  return -1;
}

// A number or ratio switch starts with a digit, or '-' and a digit.
bool number_follows(const char* p) { return is_digit(p[0]) || (p[0] == '-' && is_digit(p[1])); }

// Reads digits[.digits] at p; keeps at most nine significant digits so that later products
// stay inside 64 bits (further digits are consumed and ignored).
const char* read_decimal(const char* p, uint64_t* mantissa, uint64_t* scale) {
  uint64_t m = 0, s = 1;
  for (; is_digit(*p); ++p)
    if (m < 100000000u) m = m * 10 + uint64_t(*p - '0');
  if (*p == '.' && is_digit(p[1])) {
    for (++p; is_digit(*p); ++p)
      if (m < 100000000u) { m = m * 10 + uint64_t(*p - '0'); s *= 10; }
  }
  *mantissa = m;
  *scale = s;
  return p;
}

uint64_t gcd(uint64_t a, uint64_t b) {
  while (b) { uint64_t t = a % b; a = b; b = t; }
  return a;
}

void append(char* text, const char* more) {
  size_t len = std::strlen(text), add = std::strlen(more);
  if (len + add + 1 > kOptionsTextCap) add = kOptionsTextCap - 1 - len;
  std::memcpy(text + len, more, add);
  text[len + add] = 0;
}

// The help text's switch table: form, then the description's lines.
struct HelpEntry {
  const char* form;
  const char* lines[6];
};

const HelpEntry kHelpEntries[] = {
    {"/P  ", {"Preload the entire Korva video into memory."}},
    {"/L##", {"Loop the animation (just/L for infinite)."}},
    {"/F#.#", {"Use this frame rate (just /F for fast)."}},
    {"/T##", {"Play the specified sound track."}},
    {"/Z  ", {"Use waveOut instead of DirectSound for audio output."}},
    {"/S  ", {"Show the playback summary when finished."}},
    {"/X##", {"Specifies the X coordinate of the playback."}},
    {"/Y##", {"Specifies the Y coordinate of the playback."}},
    {"/W#.#",
     {"Stretch to this width in pixels (can be slow). Use negative numbers for",
      "scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1')."}},
    {"/H#.#", {"Stretch to this height in pixels (can be slow)."}},
    {"/R   ", {"Fill the screen with a black background."}},
    {"/C   ", {"Hide the cursor when in the Korva window."}},
    {"/M##", {"Simulate this read speed (in bytes/second)."}},
    {"/E##", {"Specified the amount of memory for read buffering."}},
    {"/G  ", {"Don't load the read buffer when opening the Korva (faster opening)."}},
    {"/K  ", {"Do not use multi-threaded device reading."}},
    {"/U##", {"Disable controls: 1=pause, 2=skip, 4=quit."}},
    {"/N  ", {"Never skip frames when falling behind."}},
    {"/Q  ", {"Show run-time playback statistics."}},
    {"/J  ", {"Don't pause the video when the focus is lost."}},
    {"/I# ", {"Window style: 0=normal, 1=no caption, 2=nothing.  Add 100 for always-on-top."}},
    {"/A##",
     {"Display options: 1=2x height doubled, 2=2x height interlaced, 3=2x width doubled,",
      "4=2x width and height interlaced, 5=2x width and height doubled,",
      "6=1x height interlaced, 7=force none. Add 100 for grayscale."}},
    {"/D##",
     {"Display resolution: 1=320x200, 2=320x240, 3=320x400, 4=400x300, 5=480x360,",
      "6=512x384, 7=640x400, 8=640x480, 9=800x600, 10=960x720, 11=1024x768,",
      "12=1152x864, 13=1280x1024. To set the color depth, add: 0 for 16-bit,",
      "100 for 24-bit, 200 for 32-bit, 300 for 8-bit, 400 for at least",
      "high-color (16, 32, then 24), 500 to try true-color (32, 24, then 16),",
      "and 600 for true-color only (32, then 24)."}},
    {"/B##",
     {"Blitting style: 0=Automatic, 1=DirectDraw primary display (best quality,",
      "very fast), 2=DIBSection (best quality, most compatible), 3=YV12 overlay,",
      "4=YUY2 overlay, 5=UYVY overlay, 6=YV12 off-screen, 7=YUY2 off-screen,",
      "8=UYVY off-screen, 9=DirectDraw RGB video memory off-screen,",
      "10=DirectDraw RGB system memory off-screen."}},
};

// The /Z line of a program with one sound output (Linux: SDL2 plays every track).
const HelpEntry kOneSoundOutputZ = {
    "/Z  ",
    {"Use waveOut instead of DirectSound for audio output (Windows only: on Linux",
     "the switch is accepted and does nothing, SDL2 being the one sound output)."}};

constexpr size_t kHelpCap = 4096;
char g_help_texts[2][kHelpCap];  // two sound outputs, one

void build_help(char* out, bool one_sound_output) {
  out[0] = 0;
  auto add = [&](const char* s) {
    size_t len = std::strlen(out), n = std::strlen(s);
    if (len + n < kHelpCap) std::memcpy(out + len, s, n + 1);
  };
  add("KorvaPlay  V 1.5q  Korva Video Player\n");
  add("  SYNTAX: KorvaPlay <Korva1 Korva2 ...> [/Switches]:\n");
  for (const HelpEntry& entry : kHelpEntries) {
    const bool z = std::strcmp(entry.form, "/Z  ") == 0;
    const HelpEntry& e = z && one_sound_output ? kOneSoundOutputZ : entry;
    add("    ");
    add(e.form);
    add("\t- ");
    add(e.lines[0]);
    add("\n");
    for (size_t i = 1; i < 6 && e.lines[i]; ++i) {
      add(std::strcmp(e.form, "/W#.#") == 0 ? "         " : "        ");
      add("\t    ");
      add(e.lines[i]);
      add("\n");
    }
  }
}

}  // namespace

bool options_set_text(OptionsText* t, const char* text) {
  size_t n = std::strlen(text);
  if (n + kProfileStringMax + 2 >= kOptionsTextCap) { t->text[0] = 0; return false; }
  std::memcpy(t->text, text, n + 1);
  return true;
}

bool options_make_store(char store[kDefaultOptionsStore + 1], const char* defaults) {
  size_t n = std::strlen(defaults);
  if (n > kDefaultOptionsStore - 1 || std::strchr(defaults, '~')) return false;
  std::memcpy(store, defaults, n);
  std::memset(store + n, '~', kDefaultOptionsStore - n);
  store[kDefaultOptionsStore] = 0;
  return true;
}

bool options_build_text(OptionsText* t, const char* stored_defaults, const char* command_line) {
  size_t n = 0;
  if (stored_defaults)
    while (n < kDefaultOptionsStore - 1 && stored_defaults[n] && stored_defaults[n] != '~') ++n;
  size_t c = command_line ? std::strlen(command_line) : 0;
  if (n + 1 + c + kProfileStringMax + 2 >= kOptionsTextCap) { t->text[0] = 0; return false; }
  std::memcpy(t->text, stored_defaults ? stored_defaults : "", n);
  size_t at = n;
  if (n > 0 && c > 0 && stored_defaults[n - 1] != ' ') t->text[at++] = ' ';
  if (c) std::memcpy(t->text + at, command_line, c);
  t->text[at + c] = 0;
  return true;
}

void cancel_switches(char* text) {
  size_t i = 0;
  NameScan scan;
  while (text[i]) {
    const size_t next = skip_quoted_name(text, i, &scan);
    if (next != i) { i = next; continue; }
    if (text[i] != '/' || text[i + 1] != '-') { ++i; continue; }
    if (text[i + 2] == 0) { text[i] = 0; return; }
    const char x = lower(text[i + 2]);
    // Remove every earlier "/X" with its argument.
    size_t j = 0;
    NameScan scan_j;
    while (j < i) {
      const size_t next_j = skip_quoted_name(text, j, &scan_j);
      if (next_j != j) { j = next_j; continue; }
      if (text[j] == '/' && text[j + 1] && lower(text[j + 1]) == x) {
        size_t k = j + 2;
        if (text[k] == '"') {
          ++k;
          while (text[k] && text[k] != '"') ++k;
          if (text[k] == '"') ++k;
        } else {
          while (text[k] && uint8_t(text[k]) > ' ' && text[k] != '/') ++k;
        }
        if (k > i) k = i;  // an argument never swallows the cancelling switch
        erase(text, j, k - j);
        i -= k - j;
        continue;
      }
      ++j;
    }
    erase(text, i, 3);
    // What the cancellation removed changes where names begin: read the text again.
    i = 0;
    scan = NameScan{};
  }
}

bool parse_flag_switch(char* text, char letter) {
  ptrdiff_t at = find_switch(text, letter);
  if (at < 0) return false;
  if (uint8_t(text[at + 2]) >= uint8_t('0')) return false;
  erase(text, size_t(at), 2);
  return true;
}

int32_t parse_number_switch(char* text, char letter, int32_t fallback) {
  ptrdiff_t at = find_switch(text, letter);
  if (at < 0 || !number_follows(text + at + 2)) return fallback;
  const char* p = text + at + 2;
  bool negative = *p == '-';
  if (negative) ++p;
  int64_t v = 0;
  for (; is_digit(*p); ++p)
    if (v <= int64_t(0x80000000)) v = v * 10 + (*p - '0');
  if (negative) v = -v;
  if (v > 0x7fffffff) v = 0x7fffffff;
  if (v < -int64_t(0x80000000)) v = -int64_t(0x80000000);
  erase(text, size_t(at), size_t(p - (text + at)));
  return int32_t(v);
}

void parse_ratio_switch(char* text, char letter, int32_t default_num, int32_t default_den, int32_t* num,
                        int32_t* den) {
  *num = default_num;
  *den = default_den;
  ptrdiff_t at = find_switch(text, letter);
  if (at < 0 || !number_follows(text + at + 2)) return;
  const char* p = text + at + 2;
  bool negative = *p == '-';
  if (negative) ++p;
  uint64_t n, d;
  p = read_decimal(p, &n, &d);
  if (*p == ';' && is_digit(p[1])) {
    uint64_t n2, d2;
    p = read_decimal(p + 1, &n2, &d2);
    n *= d2;  // (n / d) / (n2 / d2)
    d *= n2;
  }
  if (d == 0) d = 1;
  for (uint64_t g = gcd(n, d); g > 1; g = gcd(n, d)) { n /= g; d /= g; }
  while (n > 0x7fffffff || d > 0x7fffffff) { n >>= 1; d >>= 1; }  // keep the value, lose precision
  if (d == 0) d = 1;
  *num = negative ? -int32_t(n) : int32_t(n);
  *den = int32_t(d);
  erase(text, size_t(at), size_t(p - (text + at)));
}

void parse_options(OptionsText* t, const OptionsEnv* env, PlayerOptions* o) {
  char* s = t->text;
  std::memset(o, 0, sizeof *o);
  cancel_switches(s);

  // 1. /! adds the profile's extra switches.
  if (parse_flag_switch(s, '!')) {
    char extra[kProfileStringMax + 1] = {0};
    if (env && env->profile_quick_play) env->profile_quick_play(env->ctx, extra, sizeof extra);
    extra[kProfileStringMax] = 0;
    if (extra[0]) {
      append(s, " ");
      append(s, extra);
    }
  }
  // 2. to 9.
  o->loops = parse_number_switch(s, 'L', -1);
  if (o->loops == -1) o->loops = parse_flag_switch(s, 'L') ? 0 : 1;
  o->parent_window = parse_number_switch(s, '#', 0);
  parse_ratio_switch(s, 'F', -1, -1, &o->rate_num, &o->rate_den);
  if (parse_flag_switch(s, 'F')) {
    o->rate_num = o->rate_den = 0;
    o->open_flags |= kOpenRateOverride;
  }
  if (o->rate_num != -1 && o->rate_den != -1) o->open_flags |= kOpenRateOverride;
  o->track_id = parse_number_switch(s, 'T', 0);
  if (o->track_id) o->open_flags |= kOpenTrackList;
  o->read_speed = parse_number_switch(s, 'M', 0);
  if (o->read_speed) o->open_flags |= kOpenReadSpeed;
  o->read_buffer = parse_number_switch(s, 'E', -1);
  if (o->read_buffer != -1) o->open_flags |= kOpenBufferSize;
  o->disabled_controls = parse_number_switch(s, 'U', 0);
  int32_t style = parse_number_switch(s, 'I', 0);
  o->topmost = style / 100;
  o->window_style = style % 100;
  // 10., 11.
  o->use_waveout = parse_flag_switch(s, 'Z');
  o->show_summary = parse_flag_switch(s, 'S');
  o->show_stats = parse_flag_switch(s, 'Q');
  o->keep_playing_unfocused = parse_flag_switch(s, 'J');
  o->black_screen = parse_flag_switch(s, 'R');
  o->hide_cursor = parse_flag_switch(s, 'C');
  if (o->black_screen) o->window_style = 2;
  if (parse_flag_switch(s, 'N')) o->open_flags |= kOpenNeverSkip;
  if (parse_flag_switch(s, 'G')) o->open_flags |= kOpenNoInitialFill;
  if (parse_flag_switch(s, 'P')) o->open_flags |= kOpenPreload;
  if (parse_flag_switch(s, 'K')) o->open_flags |= kOpenNoThread;
  // 12. Display options: grey scale and the doubling mode (capped at 7, "force none").
  int32_t display = parse_number_switch(s, 'A', 0);
  if (display < 0) {
    o->bad_value = true;
  } else {
    if (display / 100 == 1) o->open_flags |= kOpenGrey;
    int32_t mode = display % 100 < 7 ? display % 100 : 7;
    o->open_flags += uint32_t(mode) << kOpenDoublingShift;
  }
  // 13., 14.
  o->pos_x = parse_number_switch(s, 'X', kPositionAbsent);
  o->pos_y = parse_number_switch(s, 'Y', kPositionAbsent);
  parse_ratio_switch(s, 'W', 0, 0, &o->out_w_num, &o->out_w_den);
  parse_ratio_switch(s, 'H', 0, 0, &o->out_h_num, &o->out_h_den);
  // 15.
  o->screen_w = o->screen_h = 0;
  if (env && env->screen_size) env->screen_size(env->ctx, &o->screen_w, &o->screen_h);
  // 16. Display mode.
  int32_t mode = parse_number_switch(s, 'D', 0);
  if (mode != 0) {
    int32_t index = mode % 100, depth = mode / 100;
    if (mode < 0 || index < 1 || index > 13 || depth > 6) {
      o->bad_value = true;
    } else {
      o->surface_flags |= kSurfaceSetDisplayMode;
      o->has_display_mode = true;
      o->display_mode.width = kDisplayModes[index].width;
      o->display_mode.height = kDisplayModes[index].height;
      o->display_mode.depth = kDisplayDepths[depth];
      o->screen_w = o->display_mode.width;
      o->screen_h = o->display_mode.height;
    }
  }
  // 17. Blitting style.
  int32_t blit = parse_number_switch(s, 'B', 0);
  if (blit < 0 || blit > 10) o->bad_value = true;
  else o->surface_flags += uint32_t(blit);
}

bool options_wants_help(const OptionsText* t, const PlayerOptions* o) {
  if (o && o->bad_value) return true;
  NameScan scan;
  for (size_t i = 0; t->text[i];) {
    const size_t next = skip_quoted_name(t->text, i, &scan);
    if (next != i) { i = next; continue; }
    if (t->text[i] == '/') return true;
    ++i;
  }
  for (const char* p = t->text; *p; ++p)
    if (*p != ' ') return false;
  return true;
}

const char* options_help_text(bool one_sound_output) {
  char* text = g_help_texts[one_sound_output ? 1 : 0];
  if (!text[0]) build_help(text, one_sound_output);
  return text;
}

bool next_movie_name(OptionsText* t, char* name, size_t cap) {
  char* s = t->text;
  size_t i = 0;
  while (s[i] && uint8_t(s[i]) <= ' ') ++i;
  size_t start, end, next;
  if (s[i] == '"') {
    start = i + 1;
    end = start;
    while (s[end] && s[end] != '"') ++end;
    next = s[end] ? end + 1 : end;
  } else {
    start = i;
    end = start;
    while (s[end] && s[end] != ' ') ++end;
    next = end;
  }
  // Following blanks and one following comma go with the name.
  while (s[next] == ' ') ++next;
  if (s[next] == ',') ++next;
  // The name, trimmed of blanks.
  while (start < end && s[start] == ' ') ++start;
  while (end > start && s[end - 1] == ' ') --end;
  size_t n = end - start;
  if (cap) {
    if (n > cap - 1) n = cap - 1;
    std::memcpy(name, s + start, n);
    name[n] = 0;
  }
  // The rest, trimmed of blanks at both ends.
  while (s[next] == ' ') ++next;
  size_t rest = std::strlen(s + next);
  std::memmove(s, s + next, rest + 1);
  while (rest > 0 && s[rest - 1] == ' ') s[--rest] = 0;
  return end > start;
}

int32_t fit_output_size(int32_t requested_num, uint32_t bit, uint32_t* surface_flags, int32_t requested_den,
                        int32_t movie_size, int32_t screen_size) {
  int64_t s;
  if (requested_num >= 0) {
    if (requested_num == 0 || requested_den == 0) return movie_size;
    s = requested_num / requested_den;
  } else if (requested_num == -1 && requested_den == 1) {
    s = screen_size;
  } else {
    uint64_t den = requested_den > 0 ? uint64_t(requested_den) : 1;
    s = int64_t(uint64_t(uint32_t(movie_size)) * uint64_t(-int64_t(requested_num)) / den);
  }
  // A size that comes out as nothing (a tiny request, no screen) keeps the movie's size.
  if (s <= 0 || s > 0x7fffffff) return movie_size;
  const int64_t m = movie_size;
  if (m != 0 && s != m && s % m == 0) *surface_flags += bit * kStretchIntEnlarge;
  else if (s == m) {
  } else if (m % s == 0) *surface_flags += bit * kStretchIntReduce;
  else {
    if (m < s) *surface_flags += bit * kStretchEnlarge;
    if (s < m) *surface_flags += bit * kStretchReduce;
  }
  return int32_t(s);
}
