// The audio transforms' SSE2 forms (see audio_transform_sse2.h).
#include "audio/audio_transform.h"
#include "audio/audio_transform_sse2.h"

#if defined(__SSE2__)
using Ops = audio_xform::Sse2Ops;
#else
using Ops = audio_xform::PlainOps;  // a build without SSE2: the same bits, the plain way
#endif

void audio_rdft(int n, int direction, float* a, int* sizes, float* table) {
  audio_xform::rdft<Ops>(n, direction, a, sizes, table);
}
void audio_dct(int n, int direction, float* a, int* sizes, float* table) {
  audio_xform::dct<Ops>(n, direction, a, sizes, table);
}
