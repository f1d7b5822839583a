// The window's keying frame: reload and rotate the current foreground, then key it with the
// keyer that the Magic Number selects. The keying itself is the engine's.
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

#include "app/globals.h"
#include "app/photofile.h"
#include "keying/keyer.h"
#include "keying/photoframe.h"
#include "ui/dialog.h"
#include "ui_dialog.h"

namespace {

keying::KeySettings settingsFrom(const Ui_Dialog& ui) {
    keying::KeySettings s;
    s.magic = ui.spinBox->value();
    s.fine = ui.fine->value();
    s.coarse = ui.coarse->value();
    s.spill = ui.spill->value();
    s.correctSpill = ui.checkBox->isChecked();
    s.backdrop = AdvSettings::backgroundclr;
    return s;
}

}  // namespace

void Dialog::Rotate() {
    m_fg = keying::turnPhoto(m_photo.load(MyGlobal::CurSelection),
                             ui->Rotation->currentText().toInt());
    MyGlobal::PrevImg = m_fg;
}

void Dialog::GVClicked(int x, int y) {
    Rotate();
    MyGlobal::xyClicked = QPoint(x, y);
    keying::keyTurnedPhoto(m_fg, settingsFrom(*ui));
    MyGlobal::PrevImg = m_fg;
}

void Dialog::MaskOut(QImage& img, unsigned int keyColour) {
    keying::maskOut(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut3(QImage& img, unsigned int keyColour) {
    keying::maskOut3(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut4(QImage& img, unsigned int keyColour) {
    keying::maskOut4(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut5(QImage& img, unsigned int keyColour) {
    keying::maskOut5(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut6(QImage& img, unsigned int keyColour) {
    keying::maskOut6(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut7(QImage& img, unsigned int keyColour) {
    keying::maskOut7(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut8(QImage& img, unsigned int keyColour) {
    keying::maskOut8(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut9(QImage& img, unsigned int keyColour) {
    keying::maskOut9(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOut10(QImage& img, unsigned int keyColour) {
    keying::maskOut10(img, keyColour, settingsFrom(*ui));
}
void Dialog::MaskOutSoft(QImage& img, unsigned int keyColour) {
    keying::maskOutSoft(img, keyColour, settingsFrom(*ui));
}
