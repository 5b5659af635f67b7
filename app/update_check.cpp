// The update reminder: more than two months past the build date, at most once a week, the
// player asks whether to look for a newer version on the web.
#include <cstdio>
#include <cstring>

#include "app/player.h"

const char kVersionCheckBase[] = "https://korva.example.org";

namespace {

// "%04i-%02i-%02i"; the parts are kept in range so that the text is always 10 characters.
void date_text(int32_t y, int32_t m, int32_t d, char out[16]) {
  const unsigned yy = unsigned(y) % 10000u, mm = unsigned(m) % 100u, dd = unsigned(d) % 100u;
  std::snprintf(out, 16, "%04u-%02u-%02u", yy, mm, dd);
}

// Dates in the fixed-width form order as text (the terminating zero included).
bool earlier(const char* a, const char* b) { return std::memcmp(a, b, 11) < 0; }

}  // namespace

int32_t update_check(PlayerHost* h) {
  int32_t y = 0, m = 0, d = 0;
  h->local_date(h->ctx, &y, &m, &d);
  char today[16], two_months[16], one_week[16];
  date_text(y, m, d, today);
  // Two months ago: the day stays as it is, even where that month is shorter.
  if (m <= 2) date_text(y - 1, m + 10, d, two_months);
  else date_text(y, m - 2, d, two_months);
  if (d > 7) date_text(y, m, d - 7, one_week);
  else if (m == 1) date_text(y - 1, 12, d + 23, one_week);
  else date_text(y, m - 1, d + 23, one_week);
  char build[16] = {};
  std::memcpy(build, kBuildDate, sizeof kBuildDate);
  if (!earlier(build, two_months)) return 0;
  char last[16] = {};
  h->profile_read(h->ctx, "LastVersionCheckDate", kBuildDate, last, sizeof last);
  if (!earlier(last, one_week)) return 0;
  h->profile_write(h->ctx, "LastVersionCheckDate", today);  // at most once a week, whatever the answer
  const int32_t answer = h->message_box(
      h->ctx, "New version check...",
      "It's been a while since you checked for a more recent Korva version.\n\nWould you like to check for a "
      "newer version of Korva on the Internet?\n\nIf you choose to check for a new version, Korva will close to "
      "allow the update to install.",
      kBoxQuestion, true);
  if (answer != kAnswerYes) return 0;
  char page[256];
  std::snprintf(page, sizeof page, "%s/scripts/korvaver.asp?ver=%s", kVersionCheckBase, kPlayerVersion);
  h->open_web_page(h->ctx, page);
  h->sleep_ms(h->ctx, 250);
  h->profile_write(h->ctx, "LastVersionCheckDate", today);
  h->destroy_window(h->ctx);
  return 1;
}
