#pragma once

#include <QIcon>
#include <QString>

namespace ombrix {

// An icon from an .ico file that decodes each of its images only when a
// size first needs it. QIcon(fileName) decodes every image of the file at
// once, the largest ones included, where a button shows one and a window
// asks for one or two. Picks, scales and greys its pixmaps exactly as
// QIcon(fileName) does. A file that is not a readable .ico gives a null icon.
QIcon icoIcon(const QString &fileName);

} // namespace ombrix
