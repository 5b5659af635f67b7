#include "tools/krvtool/tool.h"

// Placeholder until its decoder lands.
int cmd_wav(int, char**) { return tool_fail("'wav' is not available in this build yet"); }
