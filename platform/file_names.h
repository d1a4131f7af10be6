#pragma once

#include <QByteArray>
#include <QString>

// File names on this system are bytes, not text. These turn them into text and back without
// loss: valid UTF-8 reads as the text it encodes, and each byte outside valid UTF-8 as one lone
// surrogate, U+DC80 to U+DCFF (as Python's "surrogateescape"), which encodes back to that byte.
namespace FileNames {
QString decode(QByteArrayView bytes);
QByteArray encode(QStringView name);
} // namespace FileNames
