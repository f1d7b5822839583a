#include "ui/preset.h"

#include "app/globals.h"
#include "ui/desktop.h"
#include "ui_preset.h"

Preset::Preset(QWidget* parent) : QDialog(parent), ui(new Ui_Preset) {
    ui->setupUi(this);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
}

Preset::~Preset() {
    delete ui;
}

void Preset::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void Preset::on_Browse_clicked() {
    const QString folder =
        desktop().chooseFolder(this, tr("Select Output Directory"), MyGlobal::outputDir);
    if (folder.isEmpty())
        return;
    MyGlobal::HotFolder_FG = folder;
    ui->Browsepath->setText(folder);
}
