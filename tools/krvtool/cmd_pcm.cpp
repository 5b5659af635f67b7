#include "tools/krvtool/tool.h"

// Placeholder until its decoder lands.
int cmd_pcm(int, char**) { return tool_fail("'pcm' is not available in this build yet"); }
