#pragma once

#include <QIcon>

// The program's own pictures, drawn in code so that nothing needs to be shipped beside it.
QIcon programIcon();
QIcon errorPicture();
QIcon warningPicture();
