#include "keying/photoframe.h"

#include <QTransform>

namespace keying {

QImage turnPhoto(const QImage& photo, int degrees) {
    QTransform turn;
    turn.rotate(degrees, Qt::ZAxis);
    return photo.transformed(turn, Qt::FastTransformation);
}

KeyNotes keyTurnedPhoto(QImage& turned, const KeySettings& s) {
    return keyImage(turned, keyColourOf(turned), s);
}

}  // namespace keying
