// Writes the window's icon picture (an XPM, as the window embeds it) as the
// PNG file that the desktop's icon theme needs. Qt reads the picture the
// same way the window does, so both show the same icon.
#include <QString>
#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pendra-icon-png ICON.xpm OUT.png\n");
    return 2;
  }
  QImage icon;
  if (!icon.load(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "pendra-icon-png: cannot read %s\n", argv[1]);
    return 1;
  }
  if (!icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "pendra-icon-png: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
