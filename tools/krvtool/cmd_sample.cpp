#include "tools/krvtool/tool.h"

int cmd_sample(int, char**) { return tool_fail("'sample' is not available in this build yet"); }
