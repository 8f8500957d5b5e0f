// Resource identifiers of sorvel.exe, shared by sorvel.rc and the code that loads them.
#pragma once

#define SORVEL_ICON 1
