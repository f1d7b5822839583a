// The window's keying frame. The keyers are thin: each reads the window's controls and hands
// the image to the engine; the refreshes key through the engine with the same settings.
#include <QListWidget>
#include <QTextStream>

#include "app/globals.h"
#include "keying/keyer.h"
#include "ui/dialog.h"
#include "ui/windowsettings.h"
#include "ui_dialog.h"

void Dialog::GVClicked(int x, int y) {
    // The keyed foreground is made with the composite that follows (a release or a refresh),
    // off the GUI thread, and kept while photo and keying settings are unchanged: a press only
    // notes where it was.
    MyGlobal::xyClicked = QPoint(x, y);
}

void Dialog::MaskOut(QImage& img, unsigned int keyColour) {
    keying::maskOut(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut3(QImage& img, unsigned int keyColour) {
    keying::maskOut3(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut4(QImage& img, unsigned int keyColour) {
    keying::maskOut4(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut5(QImage& img, unsigned int keyColour) {
    keying::maskOut5(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut6(QImage& img, unsigned int keyColour) {
    keying::maskOut6(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut7(QImage& img, unsigned int keyColour) {
    keying::maskOut7(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut8(QImage& img, unsigned int keyColour) {
    keying::maskOut8(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut9(QImage& img, unsigned int keyColour) {
    keying::maskOut9(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOut10(QImage& img, unsigned int keyColour) {
    keying::maskOut10(img, keyColour, keySettings(*ui));
}
void Dialog::MaskOutSoft(QImage& img, unsigned int) {
    noteKeying(MyGlobal::CurSelection,
               keying::keyNotesText(keying::keySoft(img, keySettings(*ui))));
}

void Dialog::noteKeying(const QString& photo, const QString& note) {
    if (note.isEmpty())
        return;
    // Said where the user looks for it: the entry's tooltip, and the log.
    for (QListWidgetItem* entry : ui->listWidget->findItems(photo, Qt::MatchExactly))
        if (!entry->toolTip().contains(note))
            entry->setToolTip(entry->toolTip() + QLatin1Char('\n') + note);
    if (MyGlobal::log.isOpen()) {
        QTextStream out(&MyGlobal::log);
        out << photo << ": " << note << "\n";
        out.flush();
    }
}
