// The foreground and background lists through a whole shoot: adding (thumbnails made off the
// GUI thread, portrait shots upright, photos it cannot use), dropping from a file manager,
// Save Image, and the hot folder.
#include <sys/stat.h>
#include <QApplication>
#include <QGraphicsScene>
#include <QImageReader>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "exif_jpeg.h"
#include "ui/preset.h"
#include "window_fixture.h"

namespace {

class Lists : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        bg = makePhoto("Bkg/a.png", QSize(200, 150), qRgb(10, 20, 200));
        open();
        QDir().mkpath(MyGlobal::outputDir);
        ASSERT_TRUE(settled());
    }
    bool settled() {
        return QTest::qWaitFor([this] { return window->pendingThumbnails() == 0; }, 20000);
    }
    QStringList items(const QListWidget* list) const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << QFileInfo(list->item(i)->text()).fileName();
        return out;
    }
    // Chooses `folder` as the hot folder through the hidden "PreSets" button's window.
    void chooseHotFolder(const QString& folder) {
        nextFolder = folder;
        QTimer::singleShot(0, [] {
            auto* preset = qobject_cast<Preset*>(QApplication::activeModalWidget());
            ASSERT_NE(preset, nullptr);
            preset->findChild<QPushButton*>("Browse")->click();
            preset->close();
        });
        QMetaObject::invokeMethod(window.get(), "on_Presets_clicked");
    }
    // Empties the foreground list, then watches `folder` as the hot folder.
    void watchOnly(const QString& folder) {
        fg->selectAll();
        get("RemoveForeground")->click();
        chooseHotFolder(folder);
    }
    // A green photo at `name`, or a file of text, last modified `secs` after `start`.
    void shot(const QString& name, const QDateTime& start, int secs, bool photo = true) {
        QFile f(photo ? makePhoto(name, QSize(40, 30), qRgb(30, 200, 60)) : write(name, "x"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(start.addSecs(secs), QFileDevice::FileModificationTime));
    }
    QString out(const QString& name) const { return MyGlobal::outputDir + "/" + name; }
    QString write(const QString& name, const QByteArray& bytes) {
        return writeFile(m_app.filePath(name), bytes);
    }
    // How far apart two colours are: JPEG moves a colour by a few steps.
    static int off(QRgb a, QRgb b) {
        return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
    }
    static QRgb iconPixel(const QListWidgetItem* item, QPoint at = QPoint(37, 32)) {
        return item->icon().pixmap(74, 64).toImage().pixel(at);
    }
    // A textured JPEG, green above and blue below, of which a cut-off part decodes grey.
    static QByteArray jpeg() {
        const QImage img = photos::drawn(160, 120, 0, [](int x, int y, QRandomGenerator&) {
            return y < 60 ? qRgb(30 + (x + y) % 24, 200, 60) : qRgb(20, 40 + (x * y) % 24, 220);
        });
        return photos::encoded(img, "JPG", 90);
    }

    QString bg;
};

}  // namespace

TEST_F(Lists, SaveShowsFolderAndFileKeepsEveryOtherPhotosResultAndNeverTheForegroundOrBackground) {
    const QString first = makePhoto("card1/IMG_0021.JPG"), second = makePhoto("card2/IMG_0021.JPG"),
                  inside = makePhoto("out/studio.png"), gala = makePhoto("gala.2026.12.05.001.jpg"),
                  linked = makePhoto("photos/IMG_0042.JPG"), victim = write("victim.txt", "notes");
    // A link planted at a result's name is no result of its photo: it and its target stay.
    ASSERT_TRUE(QFile::link(victim, out("IMG_0042.png")));
    const struct {
        QString foreground;
        QString background;  // empty: as before
        const char* saved;   // the file written
        QString told;        // in the window's message; empty: no message
    } cases[] = {
        {gala, {}, "gala.2026.12.05.001.png", {}},
        {first, {}, "IMG_0021.png", {}},
        {second, {}, "IMG_0021-2.png", "IMG_0021.png holds the result of " + first},
        {first, {}, "IMG_0021.png", {}},  // its own earlier result is replaced
        {inside, {}, "studio-2.png", "studio.png is a photo in use"},
        {linked, {}, "IMG_0042-2.png", "IMG_0042.png is a file that is not a result of this photo"},
        {gala, out("gala.2026.12.05.001.png"), "gala.2026.12.05.001-2.png",
         "gala.2026.12.05.001.png is a photo in use"},
    };
    const QByteArray insideBytes = readFile(inside);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved);
        add({c.foreground});
        if (!c.background.isEmpty())
            MyGlobal::CurSelectionBk = c.background;
        get("refreshPreview")->click();
        refreshed();
        const QByteArray backgroundBytes = readFile(MyGlobal::CurSelectionBk);
        const qint64 shown = MyGlobal::ComposImg.cacheKey();
        warnings.clear();
        opened.clear();
        get("Run")->click();
        EXPECT_EQ(opened, (QStringList{MyGlobal::outputDir, out(c.saved)}));
        EXPECT_EQ(QImageReader(out(c.saved)).format(), QByteArray("png"));
        EXPECT_EQ(QImage(out(c.saved)).text("Source photo"), c.foreground);
        EXPECT_EQ(warnings.size(), c.told.isEmpty() ? 0 : 1) << warnings.join("\n").toStdString();
        EXPECT_TRUE(c.told.isEmpty() || warnings.value(0).contains(c.told))
            << warnings.join("\n").toStdString();
        EXPECT_EQ(readFile(MyGlobal::CurSelectionBk), backgroundBytes);
        EXPECT_EQ(MyGlobal::CurSelection, c.foreground);
        // Recording the photo in the file touched only a copy made beside the window: changing
        // the composite shown would copy the whole image on the window's thread.
        EXPECT_EQ(MyGlobal::ComposImg.cacheKey(), shown);
    }
    EXPECT_EQ(readFile(inside), insideBytes);
    EXPECT_EQ(QImage(out("IMG_0021-2.png")).text("Source photo"), second);
    EXPECT_EQ(readFile(victim), "notes");
    EXPECT_TRUE(QFileInfo(out("IMG_0042.png")).isSymLink());

    // No composite: the user is told and the photo's earlier result stays whole.
    add({first});
    refreshed();
    const QByteArray earlier = readFile(out("IMG_0021.png"));
    const QStringList files = QDir(MyGlobal::outputDir).entryList(QDir::Files);
    ASSERT_FALSE(earlier.isEmpty());
    warnings.clear();
    opened.clear();
    MyGlobal::ComposImg = QImage();
    get("Run")->click();
    EXPECT_EQ(warnings.size(), 1);
    EXPECT_EQ(readFile(out("IMG_0021.png")), earlier);
    EXPECT_EQ(QDir(MyGlobal::outputDir).entryList(QDir::Files), files);

    // A file where the folder should be: nobody, root included, can write below it.
    get("refreshPreview")->click();
    MyGlobal::outputDir = bg + "/Verdalux";
    get("Run")->click();
    ASSERT_EQ(warnings.size(), 2);
    EXPECT_TRUE(warnings[1].contains(QDir::toNativeSeparators(out("IMG_0021.png"))));
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(Lists, EntriesAppearAtOnceInOrderAndTheirThumbnailsOrReasonsFollow) {
    const QByteArray full = jpeg();
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_app.filePath("pipe.jpg")).constData(), 0600), 0);
    // Portraits stored sideways, without and with the camera's own thumbnail: both come in
    // upright, green at the top left.
    const QString portrait = m_app.filePath("portrait.jpg"), thumb = m_app.filePath("thumb.jpg");
    ASSERT_TRUE(writePortraitJpeg(portrait) && writePortraitJpeg(thumb, true));
    const struct {
        QString path;
        QRgb colour;  // of the thumbnail at `at`; 0: none, 1: any
        QString tip;  // after the path
        QPoint at = QPoint(37, 32);
    } rows[] = {
        {makePhoto("p/red.png", QSize(900, 600), qRgb(220, 0, 0)), qRgb(220, 0, 0),
         "900 × 600 pixels"},
        {write("junk.jpg", "not a photo"), 0,
         "Not a photo in a format we read (JPEG, TIFF, BMP, PNG, XPM)"},
        {makePhoto("p/blue.bmp", QSize(30, 70), qRgb(0, 0, 230)), qRgb(0, 0, 230),
         "30 × 70 pixels"},
        {write("cut.jpg", full.left(full.size() / 2)), 1,
         "160 × 120 pixels\nDamaged: Corrupt JPEG data: premature end of data segment"},
        {portrait, qRgb(30, 200, 60), "24 × 48 pixels", QPoint(4, 4)},
        {thumb, qRgb(30, 200, 60), "24 × 48 pixels", QPoint(4, 4)},
        {m_app.filePath("pipe.jpg"), 0,
         "Not a regular file (a pipe, device or socket); not opened"},
    };
    QStringList files;
    for (const auto& r : rows)
        files << r.path;
    add(files);  // never blocks on the pipe
    const QLabel* pending = window->findChild<QLabel*>("thumbnailsPending");
    ASSERT_EQ(fg->count(), 9);
    EXPECT_GT(window->pendingThumbnails(), 0);
    EXPECT_TRUE(pending->isVisibleTo(window.get()));
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(fg->item(i + 2)->text(), rows[i].path);
        EXPECT_EQ(iconPixel(fg->item(i + 2)), qRgb(224, 224, 224)) << "placeholder, row " << i;
        EXPECT_EQ(fg->item(i + 2)->toolTip(), rows[i].path);
    }
    ASSERT_TRUE(settled());
    EXPECT_FALSE(pending->isVisibleTo(window.get()));
    for (int i = 0; i < 7; ++i) {
        const QListWidgetItem* item = fg->item(i + 2);
        EXPECT_EQ(item->toolTip(), rows[i].path + "\n" + rows[i].tip);
        EXPECT_EQ(item->icon().isNull(), rows[i].colour == 0) << "row " << i;
        if (rows[i].colour > 1) {
            EXPECT_LT(off(iconPixel(item, rows[i].at), rows[i].colour), 40) << "row " << i;
            EXPECT_EQ(item->icon().availableSizes(), QList<QSize>{QSize(74, 64)});
        }
    }
    // The pipe is the current foreground: no composite, so no stale preview either.
    refreshed();
    EXPECT_TRUE(MyGlobal::ComposImg.isNull());
    EXPECT_TRUE(view->scene()->items().isEmpty());
}

TEST_F(Lists, DroppedPhotosAndFoldersOrThoseOfTheCommandLineAreAddedAsAddAddsThemAsCopies) {
    const QStringList inFolder = {makePhoto("drop/A.jpg"), makePhoto("drop/b.png"),
                                  makePhoto("drop/c.JPEG")};
    QFile::copy(inFolder[1], m_app.filePath("drop/d.gif"));  // a photo, not of the seven kinds
    const QString notes = write("drop/notes.txt", "hello"), one = makePhoto("one shot.tif");
    const QStringList three = {makePhoto("p/3.png"), makePhoto("p/1.png"), makePhoto("p/2.bmp")};
    const struct {
        QListWidget* list;         // dropped on; none: given on the command line
        QStringList given, added;  // added empty: refused, nothing changes
        QString told = {};         // what the command line's message names
    } cases[] = {{fg, three, three},
                 {fg, {m_app.filePath("drop")}, inFolder},
                 {fg, {notes}, {}},
                 {bk, {m_app.filePath("drop")}, inFolder},
                 {bk, {notes}, {}},
                 {nullptr, {one}, {one}},
                 {nullptr, {QUrl::fromLocalFile(one).toString()}, {one}},
                 {nullptr, {m_app.filePath("drop"), one}, inFolder + QStringList{one}},
                 {nullptr, {notes, one, m_app.filePath("gone.jpg")}, {one}, notes},
                 {nullptr, {notes}, {}, notes}};
    for (const auto& c : cases) {
        QListWidget* list = c.list ? c.list : fg;
        SCOPED_TRACE(&c - cases);  // the row
        const bool foregrounds = list == fg, usable = !c.added.isEmpty();
        const int before = list->count(), records = releaseRecords();
        const QString fgBefore = MyGlobal::CurSelection, bkBefore = MyGlobal::CurSelectionBk;
        warnings.clear();
        if (c.list) {
            QMimeData mime;
            QList<QUrl> urls;
            for (const QString& path : c.given)
                urls << QUrl::fromLocalFile(path);
            mime.setUrls(urls);
            const auto actions = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter({40, 40}, actions, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(list->viewport(), &enter);
            QDropEvent drop({40, 40}, actions, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(list->viewport(), &drop);
            EXPECT_EQ(enter.isAccepted(), usable);
            EXPECT_EQ(drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction,
                      usable ? Qt::CopyAction : Qt::IgnoreAction)
                << "never a move";
        } else {
            window->openPhotos(c.given);
            ASSERT_EQ(warnings.size(), c.told.isEmpty() ? 0 : 1);
            EXPECT_TRUE(c.told.isEmpty() || warnings[0].contains(c.told));
        }
        QStringList added;
        for (int row = before; row < list->count(); ++row)
            added << list->item(row)->text();
        EXPECT_EQ(added, c.added);
        EXPECT_EQ(MyGlobal::CurSelection, foregrounds && usable ? c.added.last() : fgBefore);
        EXPECT_EQ(MyGlobal::CurSelectionBk, !foregrounds && usable ? c.added.last() : bkBefore);
        EXPECT_EQ(releaseRecords(), records + (foregrounds && usable ? 1 : 0))
            << "a foreground shows the photo; a background waits for a refresh";
    }
}

TEST_F(Lists, TheHotFolderAddsItsPhotosOldestFirstThenEachNewOneAgainWhenComplete) {
    const QString hot = m_app.filePath("hot");
    const QDateTime start = QDateTime::currentDateTime().addDays(-1);
    for (const auto& [name, minutes] : {std::pair("c.png", 10),
                                        {"a.jpg", 0},
                                        {"B.JPG", 5},
                                        {"IMG_1.JPEG", 6},
                                        {"x.Tiff", 7},
                                        {"notes.txt", 12},
                                        {"w.jpg.part", 13}})
        shot("hot/" + QString(name), start, 60 * minutes, minutes < 12);  // the last two: no photos
    watchOnly(hot);
    EXPECT_EQ(MyGlobal::HotFolder_FG, hot);
    EXPECT_EQ(items(fg), (QStringList{"a.jpg", "B.JPG", "IMG_1.JPEG", "x.Tiff", "c.png"}));
    EXPECT_EQ(fg->currentRow(), 4);
    EXPECT_EQ(MyGlobal::CurSelection, hot + "/c.png");
    refreshed();
    EXPECT_FALSE(MyGlobal::PrevImg.isNull());
    EXPECT_EQ(choosers, QStringList{"Select Output Directory|" + MyGlobal::outputDir});

    // A new photo arriving on disk is appended and shown through the watcher; the highlight
    // stays. One written in two steps is shown cut off, then again when complete.
    clearLog();
    shot("hot/e.tif", start, 60 * 20);
    ASSERT_TRUE(QTest::qWaitFor([this] { return fg->count() == 6; }, 10000));
    EXPECT_EQ(fg->currentRow(), 4);
    EXPECT_EQ(MyGlobal::CurSelection, hot + "/e.tif");
    EXPECT_EQ(MyGlobal::LasHotFile, "e.tif");
    EXPECT_TRUE(logText().startsWith("Directory Changed..." + hot.toUtf8() + "\n"));
    const QByteArray full = jpeg();
    QFile shot(hot + "/shot.jpg");
    ASSERT_TRUE(shot.open(QIODevice::WriteOnly));
    shot.write(full.left(full.size() / 3));
    shot.flush();
    ASSERT_TRUE(QTest::qWaitFor([this] { return fg->count() == 7; }, 10000));
    QListWidgetItem* item = fg->item(6);
    ASSERT_TRUE(settled());
    refreshed();
    EXPECT_TRUE(item->toolTip().contains("Damaged")) << item->toolTip().toStdString();
    const QPoint bottom(80, 110);
    ASSERT_TRUE(MyGlobal::PrevImg.valid(bottom));
    EXPECT_NE(MyGlobal::PrevImg.pixel(bottom), qRgb(20, 40, 220)) << "cut off: grey";
    shot.write(full.mid(full.size() / 3));
    shot.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !item->toolTip().contains("Damaged"); }, 5000));
    refreshed();
    EXPECT_GT(qBlue(MyGlobal::PrevImg.pixel(bottom)), 200) << "the preview is redone";
}

TEST_F(Lists, ABurstIntoTheHotFolderListsEveryPhotoInTimeOrder) {
    const QString hot = m_app.filePath("burst");
    QDir().mkpath(hot);
    watchOnly(hot);
    ASSERT_EQ(fg->count(), 0);
    // Twenty photos as a camera's transfer drops them, faster than the window hears of each;
    // their times say the order they were taken in, not the order they are written, and so do
    // their names.
    const QDateTime start = QDateTime::currentDateTime().addSecs(-3600);
    QStringList taken;
    for (int i = 0; i < 20; ++i) {
        taken << QString("IMG_%1.JPG").arg((i * 7) % 20, 2, 10, QChar('0'));
        shot("burst/" + taken.last(), start, (i * 7) % 20);
    }
    taken.sort();
    ASSERT_TRUE(QTest::qWaitFor([this] { return fg->count() >= 20; }, 10000)) << fg->count();
    QTest::qWait(200);  // no late duplicates either
    EXPECT_EQ(items(fg), taken);
    EXPECT_EQ(MyGlobal::CurSelection, hot + "/IMG_19.JPG");
}

TEST_F(Lists, UpAndDownChooseTheNeighbourAndSaveKeepsTheListWhereItWas) {
    window->show();  // laid out, so that the list scrolls
    QStringList shots;
    for (int i = 0; i < 8; ++i)
        shots << makePhoto(QString("shoot/IMG_%1.png").arg(i));
    add(shots);  // rows 2 to 9
    add({makePhoto("more/b.png", QSize(200, 150), qRgb(0, 90, 0))}, "AddBackground");
    const struct {
        QListWidget* list;
        int from;
        Qt::Key key;
        int to;  // the same row: nothing is chosen
    } cases[] = {{fg, 4, Qt::Key_Down, 5}, {fg, 4, Qt::Key_Up, 3},   {fg, 0, Qt::Key_Up, 0},
                 {fg, 9, Qt::Key_Down, 9}, {bk, 0, Qt::Key_Down, 1}, {bk, 1, Qt::Key_Up, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + (c.key == Qt::Key_Up ? " up" : " down"));
        click(c.list, c.from);
        refreshed();
        MyGlobal::xshiftFG = 12;
        const int records = releaseRecords();
        QTest::keyClick(c.list, c.key);
        EXPECT_EQ(c.list->currentRow(), c.to);
        EXPECT_EQ(c.list->selectedItems(), QList<QListWidgetItem*>{c.list->item(c.to)});
        EXPECT_EQ(c.list == fg ? MyGlobal::CurSelection : MyGlobal::CurSelectionBk,
                  c.list->item(c.to)->text());
        EXPECT_EQ(releaseRecords(), records + (c.to != c.from ? 1 : 0));
        EXPECT_EQ(MyGlobal::xshiftFG, c.list == fg && c.to != c.from ? 0 : 12)
            << "a new foreground starts at home";
    }

    // After a save the view stays and Down goes on to the photo after the one saved.
    click(fg, 8);
    refreshed();
    const int scrolled = fg->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    get("Run")->click();
    EXPECT_EQ(fg->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(fg->selectedItems().size(), fg->count());
    QTest::keyClick(fg, Qt::Key_Down);
    EXPECT_EQ(MyGlobal::CurSelection, shots.last());
}
