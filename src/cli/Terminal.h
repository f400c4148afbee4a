#pragma once

#include <cstdio>

// Whether the stream is connected to a terminal (a progress bar makes sense only there).
bool IsTerminal(std::FILE *stream);
