// The late-frame rule: where a movie stands against its clock, and what the copy of a frame
// does when the movie plays late. The engine's wait and the copy step both ask it.
#pragma once
#include <cstdint>

struct Movie;

// The time at which the last decoded frame is due on the movie's clock (ms from the clock's
// origin) and the time elapsed on it now (signed; the late debt held back).
void late_frame_position(const Movie* m, uint32_t now, uint32_t* due, int32_t* elapsed);

// Applies the rule to the copy of the current frame with CopyFlags `flags`, while the movie
// keeps time with its sound: on time, or late by no more than the movie's threshold, the frame
// is copied; later than that its copy is skipped, at most three in a row (the fourth is shown),
// and never with 0x80000 in the copy's or the movie's flags. Counts the skipped copies.
// Returns kCopyOnTime, kCopyLate or kCopyLateSkip (convert/convert.h).
uint32_t late_frame_check(Movie* m, uint32_t now, uint32_t flags);
