#include "tools/krvtool/tool.h"

int cmd_info(int, char**) { return tool_fail("'info' is not available in this build yet"); }
