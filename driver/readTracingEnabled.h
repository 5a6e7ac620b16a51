#pragma once
// Whether this process traces: off for the excluded host modules, otherwise the product's
// "opentracing_enabled" switch (a non-zero REG_DWORD in the 32-bit view of the product key).
// Never raises: any failure reads as off.

bool readTracingEnabled();
