#include "app/main_window.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_platform.h"

#include <cstdint>

// The split of a several-files dialog result: the parts, joined again with NULs, give back the
// text less one trailing NUL, and their count is what the routine returns.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzApplication();
    static FakePlatform platform;
    static Form1 window(platform);
    if (size > 60000)
        return 0;
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList parts { QString() };
    const qint32 n = window.BreakMultiApart(text, parts);
    FUZZ_CHECK(n >= 0 && parts.size() == n + 1);
    FUZZ_CHECK(parts.first().isEmpty());
    QString joined = parts.mid(1).join(QChar(u'\0'));
    QString expected = text;
    if (expected.endsWith(QChar(u'\0')))
        expected.chop(1);
    FUZZ_CHECK(joined == expected || (n == 0 && text.isEmpty()));
    return 0;
}
