// Comparison of 16-byte identifiers given by pointer, as the system's
// lookups hold them. Any thread may call it.
#pragma once

#include "platform/com/unknown.h"

// True when both point at equal identifiers (the 16 bytes are equal), or
// both are null.
bool GuidEquals(const GUID* a, const GUID* b);
