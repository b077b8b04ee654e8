// The library SDK for routine sources compiled natively in tests and fuzz
// targets. It declares the runtime helpers the routines call (the C
// library's here); they are renamed while it is included so they do not
// meet <cstring>'s declarations. A file that picks the routines to declare
// defines TW_ROUTINES before including this.
#pragma once

#define memcpy tw_lib_memcpy
#define memset tw_lib_memset
#define memmove tw_lib_memmove
#define memcmp tw_lib_memcmp
#include "library/sdk/tarnwell.h"
#undef memcpy
#undef memset
#undef memmove
#undef memcmp
