// The console the programs print to.
#pragma once

// Whether standard output is a console, where a progress line can be rewritten in place; not a
// file or a pipe.
int OutputIsConsole();
