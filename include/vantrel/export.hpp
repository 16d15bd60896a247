#pragma once

// Symbols of the driver library that other binaries (the extension modules,
// tests, user programs) may use. Everything else stays hidden.
#if defined(_WIN32)
#define VANTREL_EXPORT __declspec(dllexport)
#else
#define VANTREL_EXPORT __attribute__((visibility("default")))
#endif
