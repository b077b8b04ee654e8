// Helpers exported by section-0 objects of the round-trip library.
#pragma once

unsigned SharedMix(unsigned x);     // rt_shared.cpp (file 1, section 0)
unsigned long long Wide(unsigned x);  // rt_hooks.cpp (file 0, section 0)
