#include "ui/photonote.h"

QString photoProblemNote(const PhotoLoad& load) {
    QString text = problemText(load);
    if (text.isEmpty())
        text = load.note;
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}
