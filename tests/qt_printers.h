// Readable GoogleTest failure messages for the Qt values the tests compare.
#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QSize& s, std::ostream* os) {
    *os << s.width() << " x " << s.height();
}
inline void PrintTo(const QPoint& p, std::ostream* os) {
    *os << '(' << p.x() << ", " << p.y() << ')';
}
inline void PrintTo(const QImage& img, std::ostream* os) {
    *os << "QImage(" << img.width() << " x " << img.height() << ", format " << int(img.format())
        << ", key " << img.cacheKey() << ')';
}
inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << '"' << b.toStdString() << '"';
}
inline void PrintTo(const QColorSpace& c, std::ostream* os) {
    *os << (c.isValid() ? c.description().toStdString() : std::string("no colour space"));
}
