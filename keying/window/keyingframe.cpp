// The window's keying frame: reload and rotate the current foreground, then key it with the
// keyer that the Magic Number selects. The keyers are thin: each reads the window's controls
// and hands the image to the engine.
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QSpinBox>
#include <QTextStream>
#include <iterator>

#include "app/globals.h"
#include "keying/keyer.h"
#include "keying/photoframe.h"
#include "ui/dialog.h"
#include "ui/windowsettings.h"
#include "ui_dialog.h"

namespace {

// The Magic Number table: value n runs entry n - 1.
using Keyer = void (Dialog::*)(QImage&, unsigned int);
constexpr Keyer kMagicNumbers[] = {&Dialog::MaskOut,    &Dialog::MaskOut3, &Dialog::MaskOut4,
                                   &Dialog::MaskOut5,   &Dialog::MaskOut6, &Dialog::MaskOut7,
                                   &Dialog::MaskOut8,   &Dialog::MaskOut9, &Dialog::MaskOut10,
                                   &Dialog::MaskOutSoft};

}  // namespace

void Dialog::Rotate() {
    m_fg = keying::turnPhoto(m_photo.load(MyGlobal::CurSelection),
                             ui->Rotation->currentText().toInt());
    MyGlobal::PrevImg = m_fg;
}

void Dialog::GVClicked(int x, int y) {
    Rotate();
    MyGlobal::xyClicked = QPoint(x, y);
    const QRgb key = keying::keyColourOf(m_fg);
    const int magic = ui->spinBox->value();
    if (magic >= 1 && magic <= int(std::size(kMagicNumbers)))
        (this->*kMagicNumbers[magic - 1])(m_fg, key);
    MyGlobal::PrevImg = m_fg;
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
    keying::KeyNotes notes;
    showPlateNote(m_plate.key(img, keySettings(*ui), ui->Rotation->currentText().toInt(), &notes));
    const QString note = keying::keyNotesText(notes);
    if (note.isEmpty())
        return;
    // Said where the user looks for it: the entry's tooltip, and the log.
    for (QListWidgetItem* entry :
         ui->listWidget->findItems(MyGlobal::CurSelection, Qt::MatchExactly))
        if (!entry->toolTip().contains(note))
            entry->setToolTip(entry->toolTip() + QLatin1Char('\n') + note);
    if (MyGlobal::log.isOpen()) {
        QTextStream out(&MyGlobal::log);
        out << MyGlobal::CurSelection << ": " << note << "\n";
        out.flush();
    }
}

void Dialog::showPlateNote(const QString& note) {
    QListWidgetItem* current = ui->listWidget->currentItem();
    if (!current || current->text() != MyGlobal::CurSelection)
        return;
    if (!note.isEmpty() && current->toolTip().split('\n').contains(note))
        return;  // told already
    setPlateNote(current, note);
    if (!note.isEmpty() && MyGlobal::log.isOpen()) {
        QTextStream out(&MyGlobal::log);
        out << QDir::toNativeSeparators(MyGlobal::CurSelection) << ": " << note << "\n";
        out.flush();
    }
}
