// The window's pictures, drawn at run time so the program carries no image files.
#pragma once

#include <QList>
#include <QPixmap>

namespace korvel {

QPixmap LogoPicture(QSize size);
// The logo made square for the desktop's program icon.
QPixmap AppIconPicture(int side);
QPixmap NoDevicePicture(QSize size);
QPixmap ConnectedPicture(QSize size);
// Frames of the "binding" animation.
QList<QPixmap> BindFrames(QSize size);
// The language list's pictures: English, Traditional, Simplified.
QList<QPixmap> LanguagePictures();
// The picture of the language dialog.
QPixmap GlobePicture(QSize size);

}  // namespace korvel
