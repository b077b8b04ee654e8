// The program icon, drawn in code: a blue shield with a white "U".
#pragma once

#include <wx/iconbndl.h>
#include <wx/image.h>

// The icon at `size` x `size` pixels, with an alpha channel.
wxImage ProgramIconImage(int size);
// Large (32) and small (16) icons for the window.
wxIconBundle ProgramIcons();
