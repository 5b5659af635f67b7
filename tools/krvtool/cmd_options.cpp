#include "tools/krvtool/tool.h"

int cmd_options(int, char**) { return tool_fail("'options' is not available in this build yet"); }
