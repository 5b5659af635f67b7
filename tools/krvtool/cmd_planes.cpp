#include "tools/krvtool/tool.h"

// Placeholder until its decoder lands.
int cmd_planes(int, char**) { return tool_fail("'planes' is not available in this build yet"); }
