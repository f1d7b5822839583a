#include "ui/dialog.h"

#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileSystemWatcher>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QIcon>
#include <QListWidgetItem>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

#include "app/globals.h"
#include "app/photofile.h"
#include "ui_dialog.h"

namespace {

// Entries listed at start-up carry a 64 x 64 thumbnail.
QIcon startupThumbnail(const QString& path) {
    const QImage photo = loadPhoto(path);
    if (photo.isNull())
        return QIcon();
    return QIcon(QPixmap::fromImage(
        photo.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
}

}  // namespace

Dialog::Dialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), ui(new Ui_Dialog) {
    ui->setupUi(this);

    m_watcher = new QFileSystemWatcher(this);
    connect(m_watcher, SIGNAL(directoryChanged(QString)), this,
            SLOT(handleDirectoryChanged(QString)));
    connect(m_watcher, SIGNAL(fileChanged(QString)), this, SLOT(handleDirectoryChanged(QString)));

    const QStringList samples = {MyGlobal::appDir + QStringLiteral("/1green.JPG"),
                                 MyGlobal::appDir + QStringLiteral("/blue1.JPG")};
    for (const QString& path : samples)
        ui->listWidget->addItem(new QListWidgetItem(startupThumbnail(path), path));

    ui->listWidget->setCurrentRow(0);
    MyGlobal::CurSelection = samples.first();

    const QImage first = loadPhoto(MyGlobal::CurSelection);
    m_scene = new QGraphicsScene();
    if (!first.isNull())
        m_scene->addPixmap(QPixmap::fromImage(
            first.scaled(MyGlobal::PrevSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    ui->graphicsView->showScene(m_scene);

    setWindowIcon(QIcon(QStringLiteral("icon.png")));
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint);
    ui->Run->setDefault(true);

    const QDir bkg(MyGlobal::appDir + QDir::separator() + QStringLiteral("Bkg"));
    const QStringList patterns = {QStringLiteral("*.jpg"), QStringLiteral("*.png"),
                                  QStringLiteral("*.JPG"), QStringLiteral("*.PNG")};
    for (const QString& name : bkg.entryList(patterns)) {
        const QString path = bkg.absolutePath() + QDir::separator() + name;
        ui->listWidget_Bk->addItem(new QListWidgetItem(startupThumbnail(path), path));
    }
    ui->listWidget_Bk->setCurrentRow(0);
    const QList<QListWidgetItem*> selectedBk = ui->listWidget_Bk->selectedItems();
    if (!selectedBk.isEmpty())
        MyGlobal::CurSelectionBk = selectedBk.first()->text();

    // The first addition makes the box's current index 0, which keys and shows the first sample.
    ui->Rotation->addItem(QStringLiteral("0"));
    ui->Rotation->addItem(QStringLiteral("90"));
    ui->Rotation->addItem(QStringLiteral("180"));
    ui->Rotation->addItem(QStringLiteral("270"));

    ui->Presets->hide();
    InitAdvSettings();
    setWindowTitle(windowTitle() + QLatin1Char(' ') + VERSION);
    ui->tabWidget->removeTab(2);
    ui->coarse->hide();
    ui->label_11->hide();
}

Dialog::~Dialog() {
    delete ui;
}

void Dialog::closeEvent(QCloseEvent*) {}

void Dialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void Dialog::InitAdvSettings() {
    ui->radioGreen->setChecked(true);
    ui->bg_align11->setChecked(true);
    ui->bg_scaletoFG->setChecked(true);
}

void Dialog::UpdateScene() {
    MyGlobal::xyClicked = QPoint(0, 0);
    GVClicked(0, 0);
    const QPointF at(MyGlobal::xyClicked);
    QMouseEvent release(QEvent::MouseButtonRelease, at, ui->graphicsView->mapToGlobal(at),
                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    ui->graphicsView->mouseReleaseEvent(&release);
}

void Dialog::on_Help_clicked() {
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(MyGlobal::appDir + QStringLiteral("/help/index.html")));
}

// Settings: store the value shown, then refresh.

void Dialog::on_refreshPreview_clicked() {
    UpdateScene();
}

void Dialog::on_transparentbkg_toggled(bool checked) {
    setCursor(Qt::WaitCursor);
    MyGlobal::transparentbkg = checked;
    UpdateScene();
    setCursor(Qt::ArrowCursor);
}

void Dialog::on_checkBox_clicked() {
    UpdateScene();
}

void Dialog::on_canv_fg_clicked() {
    AdvSettings::canvas = 0;
    UpdateScene();
}

void Dialog::on_canv_fg_2_clicked() {
    AdvSettings::canvas = 1;
    UpdateScene();
}

void Dialog::on_fg_size_valueChanged(int value) {
    AdvSettings::fgSize = value;
    UpdateScene();
}

void Dialog::on_fg_size_sliderMoved(int position) {
    AdvSettings::fgSize = position;
    UpdateScene();
}

void Dialog::on_bg_actualSize_clicked() {
    AdvSettings::bgScale = 0;
    UpdateScene();
}

void Dialog::on_bg_scaletoFG_clicked() {
    AdvSettings::bgScale = 1;
    UpdateScene();
}

void Dialog::on_bg_align11_clicked() {
    AdvSettings::bkpos = 1;
    UpdateScene();
}

void Dialog::on_bg_align00_clicked() {
    AdvSettings::bkpos = 0;
    UpdateScene();
}

void Dialog::on_radioBlue_clicked() {
    AdvSettings::backgroundclr = 1;
    UpdateScene();
}

void Dialog::on_radioGreen_clicked() {
    AdvSettings::backgroundclr = 0;
    UpdateScene();
}

void Dialog::on_Rotation_currentIndexChanged(int) {
    Rotate();
    UpdateScene();
}

// The lists, saving and the hot folder.

QListWidgetItem* Dialog::AddFileToDisplay(const QString& path) {
    const QImage photo = loadPhoto(path);
    QIcon icon;
    if (!photo.isNull())
        icon = QIcon(QPixmap::fromImage(
            photo.scaled(74, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    auto* item = new QListWidgetItem(icon, path);
    ui->listWidget->addItem(item);
    return item;
}

void Dialog::addfiles() {}

void Dialog::RemoveFiles() {}

void Dialog::on_AddBackground_clicked() {}

void Dialog::on_RemoveBackground_clicked() {}

void Dialog::on_listWidget_clicked(QModelIndex index) {
    MyGlobal::CurSelection = index.data().toString();
    MyGlobal::xshiftFG = 0;
    MyGlobal::yshiftFG = 0;
    UpdateScene();
}

void Dialog::on_listWidget_Bk_clicked(QModelIndex index) {
    MyGlobal::CurSelectionBk = index.data().toString();
    UpdateScene();
}

void Dialog::Run() {}

void Dialog::on_Presets_clicked() {}

void Dialog::addAllFilesinFolder(QString) {}

void Dialog::handleDirectoryChanged(QString) {}
