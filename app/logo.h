// The maker's logo, painted in code: a round mark (a disc crossed by an orbit with a small
// satellite) beside the "Korvane" wordmark. 299 x 68 pixels, as the window shows it.
#pragma once

#include <QPixmap>

QPixmap KorvaneLogo();
// The round mark alone, `size` pixels square: the window icon.
QPixmap KorvaneMark(int size);
