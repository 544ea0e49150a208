// Marks a definition as one of the library's exported C functions. Everything
// else is hidden (default visibility is hidden and the version script keeps
// only the public names).
#pragma once

#define ENGINE_EXPORT extern "C" __attribute__((visibility("default")))
