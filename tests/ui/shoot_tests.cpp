// A whole shoot in the window: thumbnails made off the GUI thread, portrait shots upright,
// photos dropped from a file manager, names that can be read, photos it cannot use, and the
// user's own environment for the desktop's programs.
#include <sys/stat.h>
#include <QBuffer>
#include <QGraphicsScene>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QUrl>

#include "core/startup.h"
#include "exif_jpeg.h"
#include "ui/thumbnails.h"
#include "window_fixture.h"

namespace {

class ShootTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makePhoto("Bkg/a.png", QSize(200, 150), qRgb(10, 20, 200));
        open();
        ASSERT_TRUE(settled());
    }
    bool settled() {
        return QTest::qWaitFor([this] { return window->pendingThumbnails() == 0; }, 20000);
    }
    static QRgb iconPixel(const QListWidgetItem* item, QPoint at = QPoint(37, 32)) {
        return item->icon().pixmap(74, 64).toImage().pixel(at);
    }
    // A textured JPEG, green above and blue below, of which a cut-off part decodes grey.
    QByteArray jpeg() {
        QImage img(160, 120, QImage::Format_RGB32);
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                img.setPixel(
                    x, y,
                    y < 60 ? qRgb(30 + (x + y) % 24, 200, 60) : qRgb(20, 40 + (x * y) % 24, 220));
        QByteArray out;
        QBuffer buffer(&out);
        EXPECT_TRUE(buffer.open(QIODevice::WriteOnly) && img.save(&buffer, "JPG", 90));
        return out;
    }
    QString write(const QString& name, const QByteArray& bytes) {
        return writeFile(m_app.filePath(name), bytes);
    }
};

}  // namespace

TEST_F(ShootTest, EntriesAppearAtOnceInOrderAndTheirThumbnailsOrReasonsFollow) {
    const QByteArray full = jpeg();
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_app.filePath("pipe.jpg")).constData(), 0600), 0);
    QImage white(160, 120, QImage::Format_RGB32);  // the camera's own thumbnail, used as it is
    white.fill(Qt::white);
    const struct {
        QString path;
        QRgb colour;  // of the thumbnail; 0: none, 1: any
        QString tip;  // after the path
    } rows[] = {
        {makePhoto("p/red.png", QSize(900, 600), qRgb(220, 0, 0)), qRgb(220, 0, 0),
         "900 × 600 pixels"},
        {write("junk.jpg", "not a photo"), 0,
         "Not a photo in a format we read (JPEG, PNG, TIFF, BMP, XPM)"},
        {makePhoto("p/blue.bmp", QSize(30, 70), qRgb(0, 0, 230)), qRgb(0, 0, 230),
         "30 × 70 pixels"},
        {write("cut.jpg", full.left(full.size() / 2)), 1,
         "160 × 120 pixels\nDamaged: Corrupt JPEG data: premature end of data segment"},
        {write("turned.jpg", withExif(full, 6, white)), qRgb(255, 255, 255), "120 × 160 pixels"},
        {m_app.filePath("pipe.jpg"), 0,
         "Not a regular file (a pipe, device or socket); not opened"},
    };
    QStringList files;
    for (const auto& r : rows)
        files << r.path;
    add(files);  // never blocks on the pipe
    const QLabel* pending = window->findChild<QLabel*>("thumbnailsPending");
    ASSERT_EQ(fg->count(), 8);
    EXPECT_GT(window->pendingThumbnails(), 0);
    EXPECT_TRUE(pending->isVisibleTo(window.get()));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(fg->item(i + 2)->text(), rows[i].path);
        EXPECT_EQ(iconPixel(fg->item(i + 2)), qRgb(224, 224, 224)) << "placeholder, row " << i;
        EXPECT_EQ(fg->item(i + 2)->toolTip(), rows[i].path);
    }
    ASSERT_TRUE(settled());
    EXPECT_FALSE(pending->isVisibleTo(window.get()));
    for (int i = 0; i < 6; ++i) {
        const QListWidgetItem* item = fg->item(i + 2);
        EXPECT_EQ(item->text(), rows[i].path);
        EXPECT_EQ(item->toolTip(), rows[i].path + "\n" + rows[i].tip);
        EXPECT_EQ(item->icon().isNull(), rows[i].colour == 0) << "row " << i;
        if (rows[i].colour > 1) {
            EXPECT_EQ(iconPixel(item), rows[i].colour) << "row " << i;
            EXPECT_EQ(item->icon().availableSizes(), QList<QSize>{QSize(74, 64)});
        }
    }
    // The pipe is the current foreground: no composite, so no stale preview either.
    EXPECT_TRUE(MyGlobal::ComposImg.isNull());
    EXPECT_TRUE(view->scene()->items().isEmpty());
}

TEST_F(ShootTest, ALateThumbnailOfARemovedEntryIsDropped) {
    // The slow photo is removed before its thumbnail arrives; the entry that takes its row
    // must keep its own thumbnail.
    const QString fast = makePhoto("p/fast.png", QSize(8, 8), qRgb(0, 0, 230));
    add({makePhoto("p/slow.png", QSize(3000, 2000), qRgb(220, 0, 0)), fast});
    fg->setCurrentRow(2, QItemSelectionModel::ClearAndSelect);
    window->findChild<QPushButton*>("RemoveForeground")->click();
    ASSERT_TRUE(settled());
    ASSERT_EQ(fg->count(), 3);
    EXPECT_EQ(fg->item(2)->text(), fast);
    EXPECT_EQ(iconPixel(fg->item(2)), qRgb(0, 0, 230));
    EXPECT_EQ(fg->item(2)->toolTip(), fast + "\n8 × 8 pixels");
}

TEST_F(ShootTest, PortraitShotComesInUprightWithItsKeyFromTheUprightCorner) {
    ASSERT_TRUE(QDir().mkpath(m_app.filePath("p")));
    const QString shot = m_app.filePath("p/portrait.jpg");
    ASSERT_TRUE(writePortraitJpeg(shot));
    window->findChild<QSpinBox*>("spinBox")->setValue(7);  // keys the colour near the key
    add({shot});
    ASSERT_EQ(MyGlobal::PrevImg.size(), QSize(24, 48));
    EXPECT_EQ(qAlpha(MyGlobal::PrevImg.pixel(3, 3)), 0) << "green, the upright corner, is keyed";
    EXPECT_EQ(qAlpha(MyGlobal::PrevImg.pixel(20, 3)), 255) << "blue stays";
    ASSERT_TRUE(settled());
    EXPECT_EQ(fg->item(2)->toolTip(), shot + "\n24 × 48 pixels");
    const auto near = [](QRgb a, QRgb b) {
        return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
    };
    EXPECT_LT(near(iconPixel(fg->item(2), QPoint(4, 4)), qRgb(30, 200, 60)), 40);
    EXPECT_LT(near(iconPixel(fg->item(2), QPoint(70, 4)), qRgb(20, 40, 220)), 40);
}

TEST_F(ShootTest, DroppedPhotosAndFoldersAreAddedAsAddAddsThem) {
    const QString folder = m_app.filePath("drop");
    const QStringList inFolder = {makePhoto("drop/A.jpg"), makePhoto("drop/b.png"),
                                  makePhoto("drop/c.JPEG")};
    QFile::copy(inFolder[1], m_app.filePath("drop/d.gif"));  // a photo, not of the seven kinds
    const QString notes = write("drop/notes.txt", "hello");
    const QStringList three = {makePhoto("p/3.png"), makePhoto("p/1.png"), makePhoto("p/2.bmp")};
    const struct {
        const char* name;
        QStringList dropped, added;  // added empty: the drop is refused and changes nothing
    } cases[] = {{"three photos", three, three},
                 {"a folder", {folder}, inFolder},
                 {"a text file", {notes}, {}}};
    for (const bool foregrounds : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (foregrounds ? " on foregrounds" : " on backs"));
            QListWidget* list = foregrounds ? fg : bk;
            const int before = list->count(), records = releaseRecords();
            const QString fgBefore = MyGlobal::CurSelection, bkBefore = MyGlobal::CurSelectionBk;
            QMimeData mime;
            QList<QUrl> urls;
            for (const QString& path : c.dropped)
                urls << QUrl::fromLocalFile(path);
            mime.setUrls(urls);
            const auto actions = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter({40, 40}, actions, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(list->viewport(), &enter);
            QDropEvent drop({40, 40}, actions, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(list->viewport(), &drop);

            const bool usable = !c.added.isEmpty();
            EXPECT_EQ(enter.isAccepted(), usable);
            EXPECT_EQ(drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction,
                      usable ? Qt::CopyAction : Qt::IgnoreAction)
                << "never a move";
            QStringList added;
            for (int row = before; row < list->count(); ++row)
                added << list->item(row)->text();
            EXPECT_EQ(added, c.added);
            const QString current = usable ? c.added.last() : QString();
            if (usable) {
                EXPECT_EQ(list->currentItem()->text(), current);
            }
            EXPECT_EQ(MyGlobal::CurSelection, foregrounds && usable ? current : fgBefore);
            EXPECT_EQ(MyGlobal::CurSelectionBk, !foregrounds && usable ? current : bkBefore);
            EXPECT_EQ(releaseRecords(), records + (foregrounds && usable ? 1 : 0))
                << "a foreground drop shows the photo; a background drop waits for a refresh";
        }
    }
}

TEST(EntryLabel, KeepsTheFileNameAndElidesTheFoldersInTheMiddle) {
    const QFontMetrics fm(QFont(QStringLiteral("Arial"), 10));
    const QString path = QStringLiteral("/home/ann/Pictures/2026-12-05 wedding/IMG_0042.JPG");
    const int name = fm.horizontalAdvance(QStringLiteral("/IMG_0042.JPG"));
    const struct {
        int room;
        QString head, tail;  // what the label starts and ends with
    } rows[] = {
        {fm.horizontalAdvance(path), path, path},
        {name + fm.horizontalAdvance(QStringLiteral("/ho…es")), "/h…", "ng/IMG_0042.JPG"},
        {name - 4, "IM", ".JPG"},
    };
    for (const auto& r : rows) {
        const QString label = entryLabel(path, fm, r.room);
        EXPECT_TRUE(label.startsWith(r.head) && label.endsWith(r.tail)) << label.toStdString();
        EXPECT_LE(fm.horizontalAdvance(label), r.room) << label.toStdString();
    }
}

TEST_F(ShootTest, ALongPathIsShownWithinTheListWidth) {
    add({makePhoto("a-long-folder-from-the-camera-import/2026-12-05/IMG_0042.png")});
    window->show();
    QCoreApplication::processEvents();
    EXPECT_LE(fg->visualItemRect(fg->item(2)).right(), fg->viewport()->width());
    EXPECT_EQ(fg->horizontalScrollBar()->maximum(), 0) << "elided, not scrolled sideways";
}

TEST_F(ShootTest, AHotFolderPhotoWrittenInTwoStepsIsShownAgainWhenComplete) {
    MyGlobal::HotFolder_FG = m_app.filePath("hot");
    QDir().mkpath(MyGlobal::HotFolder_FG);
    const QByteArray full = jpeg();
    QFile shot(MyGlobal::HotFolder_FG + "/shot.jpg");
    ASSERT_TRUE(shot.open(QIODevice::WriteOnly));
    shot.write(full.left(full.size() / 3));
    shot.flush();
    QMetaObject::invokeMethod(window.get(), "handleDirectoryChanged",
                              Q_ARG(QString, MyGlobal::HotFolder_FG));
    QListWidgetItem* item = fg->item(fg->count() - 1);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(item->toolTip().contains("Damaged")) << item->toolTip().toStdString();
    const QPoint bottom(80, 110);
    ASSERT_TRUE(MyGlobal::PrevImg.valid(bottom));
    EXPECT_NE(MyGlobal::PrevImg.pixel(bottom), qRgb(20, 40, 220)) << "cut off: grey";
    shot.write(full.mid(full.size() / 3));
    shot.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !item->toolTip().contains("Damaged"); }, 5000));
    EXPECT_GT(qBlue(MyGlobal::PrevImg.pixel(bottom)), 200) << "the preview is redone";
}

TEST_F(ShootTest, TheDesktopsOpenerGetsTheUsersEnvironment) {
    // A stand-in opener that writes down its environment.
    const QString opener = write("bin/xdg-open", "#!/bin/sh\nenv > \"$0.env\"\n");
    QFile::setPermissions(opener, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_app.filePath("bin")) + ":" + path);
    qunsetenv("QT_FONT_DPI");
    startup::setOwnVariable("QT_FONT_DPI", "72");
    resetDesktop();
    desktop().open(m_app.filePath("out"));
    qputenv("PATH", path);
    const QByteArray seen = readFile(opener + ".env");
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(qgetenv("QT_FONT_DPI"), "72") << "ours stays";
    EXPECT_FALSE(seen.contains("QT_FONT_DPI=")) << seen.toStdString();
    EXPECT_FALSE(seen.contains("hugetlb")) << seen.toStdString();
    EXPECT_FALSE(qgetenv("GLIBC_TUNABLES").contains("hugetlb")) << "given back after start-up";
    qunsetenv("QT_FONT_DPI");
}
