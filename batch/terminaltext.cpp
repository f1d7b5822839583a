#include "batch/terminaltext.h"

#include <QList>

namespace batch {

namespace {

bool reordersText(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

QString terminalText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (c == U'\\') {
            out += QLatin1String("\\\\");
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {  // C0, DEL and C1
            out += QStringLiteral("\\%1").arg(uint(c), 3, 8, QLatin1Char('0'));
        } else if (reordersText(c)) {
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        } else {
            out += QString::fromUcs4(&c, 1);
        }
    }
    return out;
}

}  // namespace batch
