#include "ui/dialog.h"

#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidgetItem>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTextStream>
#include <QUrl>

#include "app/globals.h"
#include "compose/layerspace.h"
#include "compose/overlay.h"
#include "formats/result.h"
#include "photo/photofile.h"
#include "png/pngfile.h"
#include "results/photonames.h"
#include "ui/batchsettings.h"
#include "ui/beside.h"
#include "ui/desktop.h"
#include "ui/preset.h"
#include "ui/settlewatch.h"
#include "ui/windowsettings.h"
#include "ui_dialog.h"

namespace {

// Thumbnails squeeze the whole photo: entries listed at start-up get 64 x 64, entries added
// later 74 x 64.
const QSize kStartupThumbnail(64, 64);
const QSize kAddedThumbnail(74, 64);

// The photo files of the hot folder and of dropped folders, in any letter case.
const QStringList& kPhotoPatterns = results::photoNamePatterns();

// The photos among `paths`: photo files in their order, a folder's photos in name order. What
// is neither goes to `left` when given.
QStringList photosAmong(const QStringList& paths, QStringList* left = nullptr) {
    QStringList photos;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QDir folder(info.absoluteFilePath());
            for (const QString& name :
                 folder.entryList(kPhotoPatterns, QDir::Files, QDir::Name | QDir::IgnoreCase))
                photos << folder.filePath(name);
        } else if (info.isFile() && QDir::match(kPhotoPatterns, info.fileName())) {
            photos << info.absoluteFilePath();
        } else if (left) {
            *left << path;
        }
    }
    return photos;
}

// The photos a drag carries; anything else is skipped.
QStringList droppedPhotos(const QMimeData* data) {
    QStringList paths;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
    return photosAmong(paths);
}

// Entries as wide as the list, whatever the length of their path, so that a long path is
// elided instead of making the list scroll sideways; the file name is kept whole if it fits.
class EntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QSize(0, QStyledItemDelegate::sizeHint(option, index).height());
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        // The text's room: the entry less its thumbnail and the margins around both.
        const int room = option->rect.width() - option->decorationSize.width() - 18;
        if (room > 0)
            option->text = entryLabel(option->text, option->fontMetrics, room);
    }
};

// Accepts a drag as a copy only: a file manager told "moved" may delete the photos it sent.
bool acceptCopy(QDropEvent* event, bool usable) {
    if (usable && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return true;
    }
    event->ignore();
    return false;
}

// Shrinks a label's font until its text fits its width, so that a title keeps its place and
// shows whole whatever the font and resolution.
void fitText(QLabel* label, qreal pointSize) {
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    const int room = label->contentsRect().width();
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(label->text()) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

}  // namespace

void Dialog::fitTitles() {
    for (QLabel* title : {ui->label_3, ui->label})
        fitText(title, font().pointSizeF());
}

Dialog::Dialog(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags), ui(new Ui_Dialog) {
    ui->setupUi(this);
    m_refresh = new RefreshWorker(this);
    connect(m_refresh, &RefreshWorker::ready, this, &Dialog::showRefresh);
    connect(m_refresh, &RefreshWorker::previewReady, ui->graphicsView, &Gview::showPreview);
    // A quiet cue over the preview while a refresh is made; the last composite stays shown.
    connect(m_refresh, &RefreshWorker::busyChanged, this, [this](bool busy) {
        if (busy)
            ui->graphicsView->viewport()->setCursor(Qt::BusyCursor);
        else
            ui->graphicsView->viewport()->unsetCursor();
    });
    connect(ui->graphicsView, &Gview::Released, this, &Dialog::composeRefresh);
    connect(&m_thumbnails, &ThumbnailLoader::pendingChanged, this, &Dialog::showPendingThumbnails);
    showPendingThumbnails(0);
    fitTitles();
    for (QListWidget* list : {ui->listWidget, ui->listWidget_Bk}) {
        list->installEventFilter(this);  // Up and Down choose as a click does
        list->setItemDelegate(new EntryDelegate(list));
        list->viewport()->setAcceptDrops(true);
        list->viewport()->installEventFilter(this);
    }

    attachPlateMenu(ui->listWidget, &m_plate, [this] { UpdateScene(); });
    ui->graphicsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->graphicsView, &QWidget::customContextMenuRequested, this, &Dialog::previewMenu);

    m_watcher = new QFileSystemWatcher(this);
    connect(m_watcher, SIGNAL(directoryChanged(QString)), this,
            SLOT(handleDirectoryChanged(QString)));
    connect(m_watcher, SIGNAL(fileChanged(QString)), this, SLOT(handleDirectoryChanged(QString)));
    m_settle = new SettleWatch(this);
    connect(m_settle, &SettleWatch::settled, this, &Dialog::photoSettled);

    const QStringList samples = {MyGlobal::appDir + QStringLiteral("/1green.JPG"),
                                 MyGlobal::appDir + QStringLiteral("/blue1.JPG")};
    for (const QString& path : samples)
        addEntry(ui->listWidget, path, kStartupThumbnail);

    ui->listWidget->setCurrentRow(0);
    MyGlobal::CurSelection = samples.first();

    // Empty until the first refresh, which the rotation choice starts below, is shown.
    m_scene = new QGraphicsScene();
    ui->graphicsView->showScene(m_scene);

    // The working folder's icon first; an installed program has its own in the icon theme.
    const QIcon local(QStringLiteral("icon.png"));
    setWindowIcon(!local.isNull()
                      ? local
                      : QIcon::fromTheme(QStringLiteral("mattora"),
                                         QIcon(MyGlobal::appDir +
                                               QStringLiteral("/../icons/hicolor/256x256/apps/"
                                                              "mattora.png"))));
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint);
    ui->Run->setDefault(true);

    const QDir bkg(MyGlobal::appDir + QDir::separator() + QStringLiteral("Bkg"));
    const QStringList patterns = {QStringLiteral("*.jpg"), QStringLiteral("*.png"),
                                  QStringLiteral("*.JPG"), QStringLiteral("*.PNG")};
    for (const QString& name : bkg.entryList(patterns)) {
        const QString path = bkg.absolutePath() + QDir::separator() + name;
        addEntry(ui->listWidget_Bk, path, kStartupThumbnail);
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
    delete m_refresh;  // before the form whose view it would show in
    delete ui;
}

void Dialog::closeEvent(QCloseEvent*) {}

void Dialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        fitTitles();
    }
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
    const QString guide = MyGlobal::appDir + QStringLiteral("/help/index.html");
    if (QFileInfo(guide).isFile())
        desktop().open(guide);
    else
        desktop().warn(this, tr("Help"),
                       tr("The user guide is not installed: it belongs at\n%1")
                           .arg(QDir::toNativeSeparators(guide)));
}

RefreshRequest Dialog::currentRequest() const {
    RefreshRequest r = refreshRequest(*ui);
    r.plate = m_plate.path();
    r.key.keepShadows = m_plate.keepShadows() && !r.plate.isEmpty();
    return r;
}

void Dialog::composeRefresh() {
    m_refresh->request(currentRequest());
}

void Dialog::showRefresh(const RefreshResult& result) {
    MyGlobal::PrevImg = result.keyed;
    MyGlobal::ComposImg = result.composite;
    m_shotCamera = result.camera;
    noteKeying(result.photo, result.keyNote);
    // Without a composite the preview is empty, as Save Image will find it.
    ui->graphicsView->showComposite(result.preview, result.background, result.overlay,
                                    result.layers);
    // An overlay that cannot be read is told once and dropped; one whose proportions differ
    // from the image's says so over the preview.
    if (!result.overlayProblem.isEmpty() && !MyGlobal::overlayFile.isEmpty() &&
        m_overlayTold != MyGlobal::overlayFile) {
        m_overlayTold = MyGlobal::overlayFile;
        const QString file = MyGlobal::overlayFile;
        MyGlobal::overlayFile.clear();
        desktop().warn(this, tr("Overlay Frame"),
                       tr("The overlay %1 is not used: %2")
                           .arg(QDir::toNativeSeparators(file), result.overlayProblem));
        UpdateScene();
        return;
    }
    const bool differs =
        !result.overlay.isNull() && !result.composite.isNull() &&
        compose::overlayProportionsDiffer(result.overlay.size(), result.composite.size());
    ui->graphicsView->setToolTip(
        differs ? tr("The overlay's proportions (%1 x %2) differ from the image's (%3 x %4): it "
                     "is centred and leaves bands uncovered.")
                      .arg(result.overlay.width())
                      .arg(result.overlay.height())
                      .arg(result.composite.width())
                      .arg(result.composite.height())
                : QString());
}

void Dialog::previewMenu(const QPoint& at) {
    auto* menu = new QMenu(ui->graphicsView);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu->addAction(tr("Overlay Frame...")), &QAction::triggered, this,
            &Dialog::chooseOverlay);
    QAction* none = menu->addAction(tr("No Overlay"));
    none->setEnabled(!MyGlobal::overlayFile.isEmpty());
    connect(none, &QAction::triggered, this, [this] {
        MyGlobal::overlayFile.clear();
        UpdateScene();
    });
    menu->addSeparator();
    QAction* fill = menu->addAction(tr("Fill Without Stretching"));
    fill->setCheckable(true);
    fill->setChecked(AdvSettings::bgFill);
    fill->setToolTip(
        tr("The background keeps its proportions and covers the image, centred; "
           "what overflows is cut off"));
    connect(fill, &QAction::toggled, this, [this](bool on) {
        AdvSettings::bgFill = on;
        // The two scaling buttons stand aside while it is ticked.
        ui->bg_actualSize->setEnabled(!on);
        ui->bg_scaletoFG->setEnabled(!on);
        UpdateScene();
    });
    menu->addSeparator();
    connect(menu->addAction(tr("Copy Batch Settings")), &QAction::triggered, this,
            &Dialog::copyBatchSettings);
    connect(menu->addAction(tr("Save Batch Settings...")), &QAction::triggered, this,
            &Dialog::saveBatchSettings);
    menu->popup(ui->graphicsView->viewport()->mapToGlobal(at));
}

void Dialog::chooseOverlay() {
    const QStringList files = desktop().chooseFiles(
        this, tr("Choose an Overlay Frame"), photoFolder(),
        tr("Pictures with transparency (*.png);;") + results::photoFileFilter(tr("Images")));
    if (files.isEmpty())
        return;
    MyGlobal::overlayFile = files.first();
    m_overlayTold.clear();
    UpdateScene();
}

void Dialog::copyBatchSettings() {
    const QString text = batchSettingsText(currentRequest());
    if (text.isEmpty()) {
        desktop().warn(this, tr("Copy Batch Settings"),
                       tr("The settings could not be written out."));
        return;
    }
    QGuiApplication::clipboard()->setText(text);
}

void Dialog::saveBatchSettings() {
    const QString text = batchSettingsText(currentRequest());
    const QString file = desktop().chooseSaveFile(
        this, tr("Save Batch Settings"), MyGlobal::outputDir + QStringLiteral("/batch.ini"),
        tr("Batch settings (*.ini)"));
    if (file.isEmpty())
        return;
    QString why = tr("The settings could not be written out.");
    const QByteArray bytes = text.toUtf8();
    const bool saved = !text.isEmpty() && png::writeWhole(
                                              file,
                                              [&bytes](QIODevice* out, QString* error) {
                                                  if (out->write(bytes) == bytes.size())
                                                      return true;
                                                  *error = out->errorString();
                                                  return false;
                                              },
                                              &why);
    if (!saved)
        desktop().warn(this, tr("Save Batch Settings"),
                       tr("The settings could not be saved as %1.\n\n%2")
                           .arg(QDir::toNativeSeparators(file), why));
}

// Settings: store the value shown, then refresh.

void Dialog::on_refreshPreview_clicked() {
    UpdateScene();
}

void Dialog::on_transparentbkg_toggled(bool checked) {
    MyGlobal::transparentbkg = checked;
    UpdateScene();
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
    UpdateScene();
}

// The lists.

namespace {

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
                                 results::photoFileFilter(tr("Images")));
}

QListWidgetItem* Dialog::addEntry(QListWidget* list, const QString& path, const QSize& size) {
    auto* item = new QListWidgetItem(path);
    list->addItem(item);
    m_thumbnails.request(item, size);
    return item;
}

void Dialog::showPendingThumbnails(int count) {
    ui->thumbnailsPending->setText(tr("Making %1 thumbnails").arg(count));
    ui->thumbnailsPending->setVisible(count > 0);
    for (QListWidget* list : {ui->listWidget, ui->listWidget_Bk}) {
        if (count > 0)
            list->viewport()->setCursor(Qt::BusyCursor);
        else
            list->viewport()->unsetCursor();
    }
}

QListWidgetItem* Dialog::AddFileToDisplay(const QString& path) {
    return addEntry(ui->listWidget, path, kAddedThumbnail);
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

void Dialog::openPhotos(const QStringList& given) {
    QStringList paths, left;
    for (const QString& arg : given)  // a desktop may pass file:// addresses
        paths << (arg.startsWith(QLatin1String("file:")) ? QUrl(arg).toLocalFile() : arg);
    const QStringList photos = photosAmong(paths, &left);
    if (!photos.isEmpty())
        appendForegrounds(photos);
    if (!left.isEmpty()) {
        QStringList lines;
        for (const QString& path : left)
            lines << QDir::toNativeSeparators(path);
        desktop().warn(this, tr("Open"),
                       tr("Not opened: no photo (JPEG, PNG, TIFF, BMP, XPM) or folder of photos by "
                          "this name:\n%1")
                           .arg(lines.join(QLatin1Char('\n'))));
    }
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

void Dialog::appendBackgrounds(const QStringList& paths) {
    QListWidgetItem* last = nullptr;
    for (const QString& path : paths) {
        last = addEntry(ui->listWidget_Bk, path, kAddedThumbnail);
        MyGlobal::CurSelectionBk = path;
    }
    if (last) {
        ui->listWidget_Bk->clearSelection();
        ui->listWidget_Bk->setCurrentItem(last);
    }
}

void Dialog::on_AddBackground_clicked() {
    appendBackgrounds(choosePhotos());
}

bool Dialog::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == ui->listWidget || watched == ui->listWidget_Bk) &&
        event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int step = key->modifiers() != Qt::NoModifier ? 0
                         : key->key() == Qt::Key_Up         ? -1
                         : key->key() == Qt::Key_Down       ? 1
                                                            : 0;
        auto* list = static_cast<QListWidget*>(watched);
        const int row = list->currentRow() + step;
        if (step == 0 || row < 0 || row >= list->count())
            return QDialog::eventFilter(watched, event);
        const QModelIndex next = list->model()->index(row, 0);
        if (list == ui->listWidget)
            on_listWidget_clicked(next);
        else
            on_listWidget_Bk_clicked(next);
        return true;
    }
    const bool foregrounds = watched == ui->listWidget->viewport();
    if (!foregrounds && watched != ui->listWidget_Bk->viewport())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            acceptCopy(drag, !droppedPhotos(drag->mimeData()).isEmpty());
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList photos = droppedPhotos(drop->mimeData());
            if (acceptCopy(drop, !photos.isEmpty())) {
                if (foregrounds)
                    appendForegrounds(photos);
                else
                    appendBackgrounds(photos);
            }
            return true;
        }
        default:
            return QDialog::eventFilter(watched, event);
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
    emit newProgress(1);
    ui->listWidget->selectAll();
    if (ui->listWidget->count() == 0) {
        addfiles();
        return;
    }
    // Saves what the settings shown make: a refresh still being made is waited for, and the
    // PNG is written beside the window (a full-resolution one takes longer than a window may
    // stall), which keeps painting meanwhile.
    setCursor(Qt::BusyCursor);
    waitForRefresh();
    // A result of another photo of the same name, or the foreground or background itself
    // lying in the output folder, is kept: the result then takes the next numbered name.
    const QString fg = results::sourceName(MyGlobal::CurSelection),
                  bg = results::sourceName(MyGlobal::CurSelectionBk);
    const results::ResultSlot slot =
        results::resultSlot(MyGlobal::outputDir, MyGlobal::CurSelection, [&](const QString& path) {
            const QString key = results::sourceName(path);
            return key == fg || key == bg ? key : QString();
        });
    const QString file = slot.path.isEmpty() ? slot.first : slot.path;
    QString why =
        slot.path.isEmpty() ? results::slotNote(slot) : tr("There is no composite to save yet.");
    const QImage composite = MyGlobal::ComposImg;
    // The camera's description of the shot goes with it, as in the batch tool's results.
    const CameraInfo camera = m_shotCamera;
    const QString version = results::photoVersion(fg);
    const bool saved =
        !slot.path.isEmpty() && !composite.isNull() &&
        whileAnswering([composite, camera, fg, version, file, &why] {
            // The texts that record the photo are set on a copy made here, beside the window:
            // the composite is shared with the preview, so setting them detaches the whole
            // image. The photo's digest (a whole read of it) is taken here too.
            QImage recorded = composite;
            recorded.setText(QString::fromLatin1(results::kSourceKey), fg);
            recorded.setText(QString::fromLatin1(results::kVersionKey), version);
            recorded.setText(QString::fromLatin1(results::kDigestKey), results::photoDigest(fg));
            return formats::writeResult(recorded, camera, file, formats::Format::Png, 100, &why);
        });
    unsetCursor();
    if (saved) {
        if (slot.why != results::ResultSlot::First::Free)
            desktop().warn(this, tr("Save Image"),
                           tr("The image was saved as %1, not %2:\n\n%3")
                               .arg(QFileInfo(file).fileName(), QFileInfo(slot.first).fileName(),
                                    results::slotNote(slot)));
        desktop().open(MyGlobal::outputDir);
        desktop().open(file);
    } else {
        desktop().warn(this, tr("Save Image"),
                       tr("The image could not be saved as %1.\n\n%2")
                           .arg(QDir::toNativeSeparators(file), why));
    }
    // The current row and the view stay where they were, so that the photographer steps on
    // from the photo just saved.
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

namespace {

// The photos of a hot folder, oldest first.
QStringList photosOldestFirst(const QString& folder) {
    QStringList paths;
    for (const QString& name :
         QDir(folder).entryList(kPhotoPatterns, QDir::Files, QDir::Time | QDir::Reversed))
        paths << folder + QDir::separator() + name;
    return paths;
}

}  // namespace

void Dialog::addAllFilesinFolder(QString folder) {
    const QStringList oldestFirst = photosOldestFirst(folder);
    for (const QString& path : oldestFirst)
        m_hotTaken.insert(path);
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
    // One notification may stand for a burst of arrivals: every photo not yet taken is
    // appended, oldest first, and the newest is shown.
    QString newest;
    for (const QString& path : photosOldestFirst(MyGlobal::HotFolder_FG)) {
        if (m_hotTaken.contains(path))
            continue;
        m_hotTaken.insert(path);
        AddFileToDisplay(path);
        m_settle->watch(path);
        newest = path;
    }
    if (newest.isEmpty())
        return;
    MyGlobal::LasHotFile = QFileInfo(newest).fileName();
    MyGlobal::CurSelection = newest;
    UpdateScene();
}

void Dialog::photoSettled(const QString& path) {
    for (int i = 0; i < ui->listWidget->count(); ++i)
        if (ui->listWidget->item(i)->text() == path)
            m_thumbnails.request(ui->listWidget->item(i), kAddedThumbnail);
    if (MyGlobal::CurSelection == path)
        UpdateScene();
}
