#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Every file the program exchanges is single-byte Windows-1252 text, whatever the platform.
// Decoding is lossless: each byte maps to exactly one character and back. The five bytes that
// the code page leaves undefined map to the C1 control with the same value.
QString decodeCp1252(QByteArrayView bytes);

// Characters without a Windows-1252 byte become '?'.
QByteArray encodeCp1252(QStringView text);
