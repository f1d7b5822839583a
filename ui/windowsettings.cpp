#include "ui/windowsettings.h"

#include "app/globals.h"
#include "ui_dialog.h"

keying::KeySettings keySettings(const Ui_Dialog& ui) {
    keying::KeySettings s;
    s.magic = ui.spinBox->value();
    s.fine = ui.fine->value();
    s.coarse = ui.coarse->value();
    s.spill = ui.spill->value();
    s.correctSpill = ui.checkBox->isChecked();
    s.backdrop = AdvSettings::backgroundclr == 1 ? keying::Backdrop::Blue : keying::Backdrop::Green;
    return s;
}

compose::ComposeSettings composeSettings() {
    using namespace compose;
    ComposeSettings s;
    s.fgSize = AdvSettings::fgSize;
    s.bgScale = AdvSettings::bgFill         ? BackgroundScale::Fill
                : AdvSettings::bgScale == 1 ? BackgroundScale::Fit
                                            : BackgroundScale::Actual;
    s.canvas = AdvSettings::canvas == 0 ? Canvas::Foreground : Canvas::Background;
    s.align = AdvSettings::bkpos == 1 ? Align::Center : Align::TopLeft;
    s.previewSize = MyGlobal::PrevSize;
    return s;
}

RefreshRequest refreshRequest(const Ui_Dialog& ui) {
    RefreshRequest r;
    r.photo = MyGlobal::CurSelection;
    r.rotation = ui.Rotation->currentText().toInt();
    r.key = keySettings(ui);
    r.background = MyGlobal::CurSelectionBk;
    r.offset = QPoint(MyGlobal::xshiftFG, MyGlobal::yshiftFG);
    r.transparent = MyGlobal::transparentbkg;
    r.compose = composeSettings();
    r.overlay = MyGlobal::overlayFile;
    return r;
}
