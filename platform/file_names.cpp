#include "platform/file_names.h"

#include <QStringDecoder>
#include <QUrl>

#include <sys/stat.h>

namespace {

constexpr char16_t FirstEscape = 0xDC80;
constexpr char16_t LastEscape = 0xDCFF;

// The length of the well-formed UTF-8 sequence that bytes starts with, or 0 when there is none
// (a stray continuation byte, an overlong form, a surrogate, a code point past U+10FFFF, or a
// sequence cut short).
qsizetype sequenceLength(QByteArrayView bytes)
{
    const auto at = [&](qsizetype i) { return i < bytes.size() ? quint8(bytes[i]) : 0; };
    const quint8 lead = at(0);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    quint8 low = 0x80;
    quint8 high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at(1) < low || at(1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// Valid UTF-8 as the text it spells; a byte-order mark is a character like any other.
QString fromUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

} // namespace

QString FileNames::decode(QByteArrayView bytes)
{
    // Most names are valid UTF-8 and decode in one go: the decoder writes U+FFFD only for bytes
    // outside valid UTF-8, or where the bytes spell U+FFFD themselves.
    QString name = fromUtf8(bytes);
    if (!name.contains(QChar::ReplacementCharacter))
        return name;
    name.clear();
    qsizetype valid = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        if (const qsizetype length = sequenceLength(bytes.sliced(i))) {
            i += length;
            continue;
        }
        name += fromUtf8(bytes.sliced(valid, i - valid));
        name += QChar(char16_t(0xDC00 + quint8(bytes[i])));
        valid = ++i;
    }
    return name + fromUtf8(bytes.sliced(valid));
}

QByteArray FileNames::encode(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype valid = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        // A low surrogate after a high one is half of a pair, not an escaped byte.
        if (unit < FirstEscape || unit > LastEscape || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        bytes += name.sliced(valid, i - valid).toUtf8();
        bytes += char(unit - 0xDC00);
        valid = i + 1;
    }
    bytes += name.sliced(valid).toUtf8();
    return bytes;
}

QString FileNames::toFileUrl(QStringView name)
{
    return QStringLiteral("file://") + QString::fromLatin1(encode(name).toPercentEncoding("/"));
}

QString FileNames::fromFileUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    return decode(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

bool FileNames::isFolder(QStringView name)
{
    struct stat info = {};
    return !name.isEmpty() && ::stat(encode(name).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}
