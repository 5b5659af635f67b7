// Shared pieces of krvtool's commands.
#pragma once
#include <cstdint>
#include <vector>

// One command: argv[0] is the command's name. Returns the process exit code.
using tool_command_fn = int (*)(int argc, char** argv);

int cmd_info(int argc, char** argv);
int cmd_options(int argc, char** argv);
int cmd_sample(int argc, char** argv);
int cmd_planes(int argc, char** argv);
int cmd_pcm(int argc, char** argv);
int cmd_wav(int argc, char** argv);
int cmd_play(int argc, char** argv);
int cmd_frames(int argc, char** argv);
int cmd_bundle(int argc, char** argv);
int cmd_thumbnail(int argc, char** argv);

// Prints "krvtool: <message>" on standard error and returns 1.
int tool_fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// True when argv holds -h or --help.
bool tool_wants_help(int argc, char** argv);
// Reads a whole file; false (with *error set) when it cannot.
bool tool_read_file(const char* name, std::vector<uint8_t>* out, const char** error);

struct ContainerView;
// Reads MOVIE (or FILE|OFFSET) whole and opens a view of it; prints the error and returns
// false when it cannot. `file` keeps the bytes the view points into.
bool tool_load_movie(const char* arg, std::vector<uint8_t>* file, ContainerView* view);

struct FramePlanes;
// Decodes the video packet of frame i of the view into `planes` (its change map cleared first).
// Returns null or an error text when the frame cannot be reached; *damaged is set when the
// packet did not decode completely (the planes then hold what the decoder made of it).
const char* tool_decode_video_frame(const ContainerView* v, uint32_t i, FramePlanes* planes,
                                    uint32_t movie_flags, bool* damaged);

struct ContainerHeader;
// The movie flag word as the player forms it from the header: the version's decoder bits, grey
// and alpha, `grey` forced on, the doubling mode of the header unless `has_mode`.
uint32_t tool_movie_flags(const ContainerHeader& h, bool grey, bool has_mode, uint32_t mode);

// Writes 8-bit RGB rows (top row first) as a PNG file; false when it cannot (or when the build
// has no PNG support).
bool tool_write_png(const char* name, const uint8_t* rgb, uint32_t w, uint32_t h);

// The size a w × h picture takes inside a box × box square, its aspect kept (rounded to the
// nearest pixel, at least 1): unchanged when it fits already, never enlarged.
void tool_fit_size(uint32_t w, uint32_t h, uint32_t box, uint32_t* out_w, uint32_t* out_h);
// Shrinks w × h RGB to ow × oh (each no larger): every output pixel is the exact area average
// of the source pixels it covers, rounded to nearest, in integers, so the same input always
// gives the same bytes. False for sizes it does not take.
bool tool_scale_rgb(const uint8_t* rgb, uint32_t w, uint32_t h, uint8_t* out, uint32_t ow, uint32_t oh);
