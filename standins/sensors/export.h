// How the sensor stand-ins export their names: by name, undecorated,
// caller-cleaned, and nothing else.
#pragma once

#include "platform/callconv.h"

#if defined(_WIN32)
#define VTSENSORS_EXPORT extern "C" __declspec(dllexport)
#else
#define VTSENSORS_EXPORT extern "C" __attribute__((visibility("default")))
#endif
