#include "keying/photoframe.h"

#include <QColorSpace>
#include <QTransform>

namespace keying {

QImage turnPhoto(const QImage& photo, int degrees) {
    QTransform turn;
    turn.rotate(degrees, Qt::ZAxis);
    QImage turned = photo.transformed(turn, Qt::FastTransformation);
    turned.setColorSpace(photo.colorSpace());  // the turn drops it; the numbers are the same
    return turned;
}

KeyNotes keyTurnedPhoto(QImage& turned, const KeySettings& s) {
    return keyImage(turned, keyColourOf(turned), s);
}

}  // namespace keying
