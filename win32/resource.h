// Resource numbers of korvaplay.exe (shared by the resource script and the code).
#pragma once

#define kResourceIcon 101           // the program's icon: the Korva mark
#define kResourceCursor 101         // a fully transparent cursor (/C)
#define kResourceDefaultOptions 1   // string: the stored default options, 512 characters
