// krvtool play's copy step: called with every decoded frame whose blit is not skipped.
#pragma once

struct Movie;
using PlayFrameHook = void (*)(Movie* m);
void play_set_frame_hook(PlayFrameHook hook);
