// qz381-draw-skin DIR: writes the setup utility's bitmaps as 24-bit BMP files.
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "setup/gui/skin_art.h"

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: qz381-draw-skin DIR\n");
    return 2;
  }
  QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(".")) {
    std::fprintf(stderr, "qz381-draw-skin: cannot make %s\n", argv[1]);
    return 1;
  }
  for (const auto& bitmap : qz381::setup::gui::AllBitmaps()) {
    const QString path = dir.filePath(bitmap.file);
    if (!bitmap.image.convertToFormat(QImage::Format_RGB888).save(path, "BMP")) {
      std::fprintf(stderr, "qz381-draw-skin: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
