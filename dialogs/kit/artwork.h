#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace ostrelle {

// The program's icon at one of its two sizes (16 or 32 pixels square), drawn in the sixteen
// colours of the classic display palette on a transparent ground.
QImage ProgramIconImage(int size);

// The program's icon for every window, at 32 x 32 and 16 x 16.
QIcon ProgramIcon();

// The maker's logo for the About box, 139 x 41 pixels.
QPixmap MakerLogo();

} // namespace ostrelle
