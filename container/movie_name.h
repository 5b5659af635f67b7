// Movie names: a plain file name, "FILE|OFFSET" (a movie inside another file) and ":OFFSET" (a
// movie appended to the program's own executable), as the input layer reads them.
#pragma once
#include <cstddef>
#include <cstdint>

// Movie names (paths, "file|offset", ":offset") are taken up to this many characters; a longer
// one is refused with kMovieNameTooLong. A buffer of kMovieNameBuffer characters receives any
// name that is taken and, cut there, still shows a longer one as too long.
constexpr size_t kMovieNameMax = 2048;
constexpr size_t kMovieNameBuffer = kMovieNameMax + 2;
constexpr const char kMovieNameTooLong[] = "The movie's name is longer than 2048 characters.";

enum MovieNameKind : uint32_t { kNamePlain = 0, kNameOwnExecutable = 1, kNameFileAtOffset = 2 };
struct ResolvedName {
  MovieNameKind kind;
  char file[kMovieNameMax + 5];  // the file to open ("" for the own executable); ".krv" may be added
  uint64_t offset;               // byte offset of the movie's header in that file
};
// Resolves ":offset", "file|offset" and plain names (".krv" added when the name has no
// extension). False with an error text for a bad offset or a name that is too long.
bool resolve_movie_name(const char* name, ResolvedName* out, const char** error);
