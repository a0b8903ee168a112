// Writes the program's icon, drawn by the window's own code, into an icon theme folder:
// <folder>/<N>x<N>/apps/<name>.png for every size N given. Run by the build.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "ui/qt/Pictures.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <folder> <name> <size>...\n", argv[0]);
    return 2;
  }
  // Draws and saves only: no window, so no display is needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int side = std::atoi(argv[i]);
    if (side <= 0) {
      std::fprintf(stderr, "not a size: %s\n", argv[i]);
      return 2;
    }
    const QString dir = QString("%1/%2x%2/apps").arg(folder).arg(side);
    const QString file = QString("%1/%2.png").arg(dir, name);
    if (!QDir().mkpath(dir) || !korvel::AppIconPicture(side).save(file, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
