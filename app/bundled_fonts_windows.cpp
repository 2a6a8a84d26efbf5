#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>

#include "app/bundled_fonts.h"

namespace console {

// A Windows without Korean support, or Wine, has no Hangul glyphs: the fonts folder beside
// the executable brings them, and Qt falls back to them for Korean text.
void AddBundledFonts() {
  const QDir folder(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"));
  for (const QString& file : folder.entryList({QStringLiteral("*.ttf")}, QDir::Files)) {
    QFontDatabase::addApplicationFont(folder.filePath(file));
  }
}

}  // namespace console
