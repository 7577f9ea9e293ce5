#pragma once
// The one way this folder includes the Windows API: lean, and without the min/max macros that
// would break std::min and std::max.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
