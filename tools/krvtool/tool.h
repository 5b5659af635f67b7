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
