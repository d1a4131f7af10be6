#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

// File names on this system are bytes, not text. These turn them into text and back without
// loss: valid UTF-8 reads as the text it encodes, and each byte outside valid UTF-8 as one lone
// surrogate, U+DC80 to U+DCFF (as Python's "surrogateescape"), which encodes back to that byte.
namespace FileNames {
QString decode(QByteArrayView bytes);
QByteArray encode(QStringView name);

// A file:// address of the name's own bytes, percent-encoded but for "/", whatever their encoding.
QString toFileUrl(QStringView name);
// The path of a file:// address, from the bytes its percent-encoding spells (a file manager
// encodes a name's own bytes there); empty for any other address.
QString fromFileUrl(const QUrl &url);
// Whether the name is a folder on disk (following links), looked up by its own bytes.
bool isFolder(QStringView name);
} // namespace FileNames
