#pragma once

namespace console {

// Makes the fonts shipped with the program available where the system may lack them, so
// the window's Korean texts have glyphs. Called once the application exists.
void AddBundledFonts();

}  // namespace console
