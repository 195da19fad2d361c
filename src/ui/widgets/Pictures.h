#pragma once

#include <QIcon>

// The program's own pictures, drawn in code so that nothing needs to be shipped beside it.
QIcon programIcon();
class QPainter;
// The program's icon painted on a 32 × 32 canvas (scale the painter for other sizes), so that it
// can also be exported at any size for the desktop's icon theme.
void paintProgramIcon(QPainter& p);
QIcon errorPicture();
QIcon warningPicture();
