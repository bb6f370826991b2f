// SPDX-License-Identifier: BSD-3-Clause
#include "base/platform.h"

// BMI1 and BMI2 (leaf 7, EBX bits 3 and 8) and LZCNT (leaf 0x80000001, ECX bit 5).
static bool platform_processor_has_wide() {
  uint32_t features[4], extended[4];
  if (!platform_cpuid(7, 0, features) || !platform_cpuid(0x80000001u, 0, extended)) return false;
  bool bmi = (features[1] & (1u << 3)) != 0 && (features[1] & (1u << 8)) != 0;
  return bmi && (extended[2] & (1u << 5)) != 0;
}

static PlatformPath platform_detect_best() {
#if defined(KESTREL_WIDE_LOOPS)
  if (platform_processor_has_wide()) return PATH_WIDE;
#else
  (void)platform_processor_has_wide;
#endif
#if defined(KESTREL_SSE2)
  return PATH_VECTOR;
#else
  return PATH_PLAIN;
#endif
}

static const PlatformPath PLATFORM_BEST_PATH = platform_detect_best();
PlatformPath platform_path_in_use = PLATFORM_BEST_PATH;

PlatformPath platform_best_path() { return PLATFORM_BEST_PATH; }

PlatformPath platform_limit_path(PlatformPath path) {
  platform_path_in_use = path < PLATFORM_BEST_PATH ? path : PLATFORM_BEST_PATH;
  return platform_path_in_use;
}
