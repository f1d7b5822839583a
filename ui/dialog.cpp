#include "ui/dialog.h"

#include <QCursor>
#include <QDir>
#include <QFileSystemWatcher>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QIcon>
#include <QListWidgetItem>
#include <QMouseEvent>
#include <QPixmap>
#include <QTextStream>

#include "app/globals.h"
#include "core/photofile.h"
#include "png/pngfile.h"
#include "ui/desktop.h"
#include "ui/photonote.h"
#include "ui/preset.h"
#include "ui/settlewatch.h"
#include "ui_dialog.h"

namespace {

// A list entry's icon: the whole photo squeezed to `size` (empty when nothing decodes), and
// its tooltip when the photo is damaged or cannot be read. Entries listed at start-up get
// 64 x 64, entries added later 74 x 64.
void showThumbnail(QListWidgetItem* item, const QSize& size) {
    const PhotoLoad load = readPhoto(item->text());
    item->setIcon(load.image.isNull() ? QIcon()
                                      : QIcon(QPixmap::fromImage(load.image.scaled(
                                            size, Qt::IgnoreAspectRatio, Qt::FastTransformation))));
    item->setToolTip(photoProblemNote(load));
}

QListWidgetItem* photoItem(const QString& path, const QSize& size) {
    auto* item = new QListWidgetItem(path);
    showThumbnail(item, size);
    return item;
}

const QSize kStartupThumbnail(64, 64);
const QSize kAddedThumbnail(74, 64);

}  // namespace

Dialog::Dialog(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags), ui(new Ui_Dialog) {
    ui->setupUi(this);

    m_watcher = new QFileSystemWatcher(this);
    connect(m_watcher, SIGNAL(directoryChanged(QString)), this,
            SLOT(handleDirectoryChanged(QString)));
    connect(m_watcher, SIGNAL(fileChanged(QString)), this, SLOT(handleDirectoryChanged(QString)));
    m_settle = new SettleWatch(this);
    connect(m_settle, &SettleWatch::settled, this, &Dialog::photoSettled);

    const QStringList samples = {MyGlobal::appDir + QStringLiteral("/1green.JPG"),
                                 MyGlobal::appDir + QStringLiteral("/blue1.JPG")};
    for (const QString& path : samples)
        ui->listWidget->addItem(photoItem(path, kStartupThumbnail));

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
        ui->listWidget_Bk->addItem(photoItem(path, kStartupThumbnail));
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
    sendRelease();
}

void Dialog::on_Help_clicked() {
    // Through the desktop's opener, which starts the browser with the user's environment.
    desktop().open(MyGlobal::appDir + QStringLiteral("/help/index.html"));
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

// The lists.

namespace {

const QStringList kHotFolderPatterns = {QStringLiteral("*.xpm"),  QStringLiteral("*.png"),
                                        QStringLiteral("*.bmp"),  QStringLiteral("*.tif"),
                                        QStringLiteral("*.tiff"), QStringLiteral("*.jpg"),
                                        QStringLiteral("*.jpeg")};

// Removes exactly the selected entries; returns whether a current entry is left.
bool removeSelected(QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    for (QListWidgetItem* item : selected)
        delete list->takeItem(list->row(item));
    if (list->currentRow() < 0)
        return false;
    list->setCurrentRow(list->currentRow());
    return true;
}

}  // namespace

void Dialog::sendRelease() {
    const QPointF at(MyGlobal::xyClicked);
    QMouseEvent release(QEvent::MouseButtonRelease, at, ui->graphicsView->mapToGlobal(at),
                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    ui->graphicsView->mouseReleaseEvent(&release);
}

QStringList Dialog::choosePhotos() {
    return desktop().chooseFiles(this, QStringLiteral("Select Files for Keying"), photoFolder(),
                                 tr("Images (*.jpeg *.jpg *.tiff *.tif *.bmp *.png *.xpm)"));
}

QListWidgetItem* Dialog::AddFileToDisplay(const QString& path) {
    auto* item = photoItem(path, kAddedThumbnail);
    ui->listWidget->addItem(item);
    return item;
}

void Dialog::appendForegrounds(const QStringList& paths) {
    QListWidgetItem* last = nullptr;
    for (const QString& path : paths) {
        last = AddFileToDisplay(path);
        MyGlobal::CurSelection = path;
    }
    if (last) {
        ui->listWidget->clearSelection();
        ui->listWidget->setCurrentItem(last);
    }
    UpdateScene();
}

void Dialog::addfiles() {
    appendForegrounds(choosePhotos());
}

void Dialog::RemoveFiles() {
    if (!removeSelected(ui->listWidget))
        return;
    MyGlobal::CurSelection = ui->listWidget->currentItem()->text();
    UpdateScene();
}

void Dialog::on_AddBackground_clicked() {
    QListWidgetItem* last = nullptr;
    for (const QString& path : choosePhotos()) {
        last = photoItem(path, kAddedThumbnail);
        ui->listWidget_Bk->addItem(last);
        MyGlobal::CurSelectionBk = path;
    }
    if (last) {
        ui->listWidget_Bk->clearSelection();
        ui->listWidget_Bk->setCurrentItem(last);
    }
}

void Dialog::on_RemoveBackground_clicked() {
    if (!removeSelected(ui->listWidget_Bk))
        return;
    MyGlobal::CurSelectionBk = ui->listWidget_Bk->currentItem()->text();
    UpdateScene();
}

void Dialog::on_listWidget_clicked(QModelIndex index) {
    ui->listWidget->clearSelection();
    ui->listWidget->setCurrentRow(index.row());
    const QList<QListWidgetItem*> selected = ui->listWidget->selectedItems();
    if (!selected.isEmpty()) {
        MyGlobal::CurSelection = selected.first()->text();
        MyGlobal::xshiftFG = 0;
        MyGlobal::yshiftFG = 0;
    }
    UpdateScene();
}

void Dialog::on_listWidget_Bk_clicked(QModelIndex index) {
    ui->listWidget_Bk->clearSelection();
    ui->listWidget_Bk->setCurrentRow(index.row());
    const QList<QListWidgetItem*> selected = ui->listWidget_Bk->selectedItems();
    if (!selected.isEmpty())
        MyGlobal::CurSelectionBk = selected.first()->text();
    // Re-key at the last clicked point, not at the origin.
    GVClicked(MyGlobal::xyClicked.x(), MyGlobal::xyClicked.y());
    sendRelease();
}

// Saving.

void Dialog::Run() {
    Rotate();
    emit newProgress(1);
    ui->listWidget->selectAll();
    if (ui->listWidget->count() == 0) {
        addfiles();
        return;
    }
    const QString file = png::compositeFileName(MyGlobal::outputDir, MyGlobal::CurSelection);
    QString why = tr("There is no composite to save yet.");
    if (!MyGlobal::ComposImg.isNull() && png::writePng(MyGlobal::ComposImg, file, 100, &why)) {
        desktop().open(MyGlobal::outputDir);
        desktop().open(file);
    } else {
        desktop().warn(this, tr("Save Image"),
                       tr("The image could not be saved as %1.\n\n%2")
                           .arg(QDir::toNativeSeparators(file), why));
    }
    ui->listWidget->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    ui->Run->setEnabled(true);
}

// The hot folder.

void Dialog::on_Presets_clicked() {
    auto* window = new Preset();
    window->exec();
    // Without a chosen folder there is nothing to scan or watch.
    if (!MyGlobal::HotFolder_FG.isEmpty()) {
        addAllFilesinFolder(MyGlobal::HotFolder_FG);
        m_watcher->addPath(MyGlobal::HotFolder_FG);
    }
    delete window;
}

void Dialog::addAllFilesinFolder(QString folder) {
    QStringList oldestFirst;
    for (const QString& name :
         QDir(folder).entryList(kHotFolderPatterns, QDir::Files, QDir::Time | QDir::Reversed))
        oldestFirst << folder + QDir::separator() + name;
    appendForegrounds(oldestFirst);
}

void Dialog::handleDirectoryChanged(QString dir) {
    if (MyGlobal::log.isOpen()) {
        QTextStream out(&MyGlobal::log);
        out << "Directory Changed..." << dir << "\n";
        out.flush();
    }
    if (MyGlobal::HotFolder_FG.isEmpty())
        return;
    const QStringList newestFirst =
        QDir(MyGlobal::HotFolder_FG).entryList(kHotFolderPatterns, QDir::Files, QDir::Time);
    if (newestFirst.isEmpty() || newestFirst.first() == MyGlobal::LasHotFile)
        return;
    const QString path = MyGlobal::HotFolder_FG + QDir::separator() + newestFirst.first();
    AddFileToDisplay(path);
    m_settle->watch(path);
    MyGlobal::LasHotFile = newestFirst.first();
    MyGlobal::CurSelection = path;
    UpdateScene();
}

void Dialog::photoSettled(const QString& path) {
    for (int i = 0; i < ui->listWidget->count(); ++i)
        if (ui->listWidget->item(i)->text() == path)
            showThumbnail(ui->listWidget->item(i), kAddedThumbnail);
    if (MyGlobal::CurSelection == path)
        UpdateScene();
}
