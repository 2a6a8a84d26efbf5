#include "app/bundled_fonts.h"

namespace console {

// The package depends on the system's Korean fonts; fontconfig finds them.
void AddBundledFonts() {}

}  // namespace console
