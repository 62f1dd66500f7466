#pragma once

#include <QIcon>
#include <QPixmap>

// The program's pictures, drawn in code so they scale cleanly and need no image files.
// GUI thread only (QPixmap).
namespace Artwork {

QIcon ProgramIcon();
QPixmap OptionsPicture();        // tool bar, 16 x 16
QPixmap ChangePasswordPicture(); // tool bar, 16 x 16
QPixmap AboutPicture();          // tool bar, 16 x 16
QPixmap ExitPicture();           // tool bar, 16 x 16
QPixmap KeysPicture(int size);   // two keys on a ring, transparent background
QPixmap AboutBanner();           // 132 x 238

} // namespace Artwork
