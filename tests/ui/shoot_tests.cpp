// A whole shoot in the window: thumbnails made off the GUI thread, portrait shots upright,
// photos dropped from a file manager, names that can be read.
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QUrl>

#include "dialog_fixture.h"
#include "exif_jpeg.h"
#include "ui/dialog.h"
#include "ui/thumbnails.h"

namespace {

class ShootTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makeBackground("Bkg/a.png", QSize(200, 150), qRgb(10, 20, 200));
        window = std::make_unique<Dialog>();
        fg = window->findChild<QListWidget*>("listWidget");
        bk = window->findChild<QListWidget*>("listWidget_Bk");
        ASSERT_TRUE(settled());
    }

    bool settled() {
        return QTest::qWaitFor([this] { return window->pendingThumbnails() == 0; }, 20000);
    }

    void press(const char* button) { window->findChild<QPushButton*>(button)->click(); }

    static QRgb iconPixel(const QListWidgetItem* item, QPoint at = QPoint(37, 32)) {
        return item->icon().pixmap(74, 64).toImage().pixel(at);
    }

    std::unique_ptr<Dialog> window;
    QListWidget* fg = nullptr;
    QListWidget* bk = nullptr;
};

bool near(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b)) < 40;
}

}  // namespace

TEST_F(ShootTest, EntriesAppearAtOnceInOrderAndTheirThumbnailsFollow) {
    struct Row {
        QString path;
        QRgb colour;  // of the thumbnail; 0: an unreadable file keeps an empty icon
        QString size;
    };
    QFile junk(m_app.filePath("junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not a photo") > 0);
    junk.close();
    const std::vector<Row> rows = {
        {makeBackground("p/red.png", QSize(900, 600), qRgb(220, 0, 0)), qRgb(220, 0, 0),
         "900 × 600"},
        {junk.fileName(), 0, ""},
        {makeBackground("p/blue.bmp", QSize(30, 70), qRgb(0, 0, 230)), qRgb(0, 0, 230), "30 × 70"},
    };
    for (const Row& r : rows)
        nextFiles << r.path;
    press("AddForegGround");

    ASSERT_EQ(fg->count(), 5);
    EXPECT_GT(window->pendingThumbnails(), 0);
    EXPECT_TRUE(window->findChild<QLabel*>("thumbnailsPending")->isVisibleTo(window.get()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const QListWidgetItem* item = fg->item(int(i) + 2);
        EXPECT_EQ(item->text(), rows[i].path);
        EXPECT_EQ(iconPixel(item), qRgb(224, 224, 224)) << "placeholder first, row " << i;
        EXPECT_EQ(item->toolTip(), rows[i].path);
    }

    ASSERT_TRUE(settled());
    EXPECT_FALSE(window->findChild<QLabel*>("thumbnailsPending")->isVisibleTo(window.get()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const QListWidgetItem* item = fg->item(int(i) + 2);
        EXPECT_EQ(item->text(), rows[i].path);
        if (rows[i].colour == 0) {
            EXPECT_TRUE(item->icon().isNull());
            EXPECT_EQ(item->toolTip(), rows[i].path + "\nNot a photo in a format we read (JPEG, PNG, "
                                                      "TIFF, BMP, XPM)");
        } else {
            EXPECT_EQ(iconPixel(item), rows[i].colour) << "row " << i;
            EXPECT_EQ(item->icon().availableSizes(), QList<QSize>{QSize(74, 64)});
            EXPECT_EQ(item->toolTip(), rows[i].path + "\n" + rows[i].size + " pixels");
        }
    }
}

TEST_F(ShootTest, ALateThumbnailOfARemovedEntryIsDropped) {
    // The slow photo is removed before its thumbnail arrives; the entry that takes its row
    // must keep its own thumbnail.
    const QString slow = makeBackground("p/slow.png", QSize(3000, 2000), qRgb(220, 0, 0));
    const QString fast = makeBackground("p/fast.png", QSize(8, 8), qRgb(0, 0, 230));
    nextFiles = {slow, fast};
    press("AddForegGround");
    fg->setCurrentRow(2, QItemSelectionModel::ClearAndSelect);
    press("RemoveForeground");
    ASSERT_TRUE(settled());
    ASSERT_EQ(fg->count(), 3);
    EXPECT_EQ(fg->item(2)->text(), fast);
    EXPECT_EQ(iconPixel(fg->item(2)), qRgb(0, 0, 230));
    EXPECT_EQ(fg->item(2)->toolTip(), fast + "\n8 × 8 pixels");
}

TEST_F(ShootTest, PortraitShotComesInUprightWithItsKeyFromTheUprightCorner) {
    const QString shot = m_app.filePath("p/portrait.jpg");
    QDir().mkpath(m_app.filePath("p"));
    ASSERT_TRUE(writeOrientedJpeg(sidewaysShot(), 6, shot));
    window->findChild<QSpinBox*>("spinBox")->setValue(7);  // keys the colour near the key
    nextFiles = {shot};
    press("AddForegGround");

    ASSERT_EQ(MyGlobal::PrevImg.size(), QSize(24, 48));
    EXPECT_EQ(qAlpha(MyGlobal::PrevImg.pixel(3, 3)), 0) << "green, the upright corner, is keyed";
    EXPECT_EQ(qAlpha(MyGlobal::PrevImg.pixel(20, 3)), 255) << "blue stays";
    ASSERT_TRUE(settled());
    const QListWidgetItem* item = fg->item(2);
    EXPECT_EQ(item->toolTip(), shot + "\n24 × 48 pixels");
    EXPECT_TRUE(near(iconPixel(item, QPoint(4, 4)), qRgb(30, 200, 60)));
    EXPECT_TRUE(near(iconPixel(item, QPoint(70, 4)), qRgb(20, 40, 220)));
}

TEST_F(ShootTest, DroppedPhotosAndFoldersAreAddedAsAddAddsThem) {
    const QString folder = m_app.filePath("drop");
    const QStringList inFolder = {makePhoto("drop/A.jpg"), makePhoto("drop/b.png"),
                                  makePhoto("drop/c.JPEG")};
    QFile::copy(inFolder[1], m_app.filePath("drop/d.gif"));  // a photo, not of the seven kinds
    QFile notes(m_app.filePath("drop/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("hello") > 0);
    notes.close();
    const QStringList three = {makePhoto("p/3.png"), makePhoto("p/1.png"), makePhoto("p/2.bmp")};

    struct Case {
        const char* name;
        QStringList dropped;
        QStringList added;  // empty: the drop is refused and changes nothing
    };
    const std::vector<Case> cases = {
        {"three photos", three, three},
        {"a folder", {folder}, inFolder},
        {"a text file", {notes.fileName()}, {}},
    };
    for (const bool foregrounds : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) +
                         (foregrounds ? " on foregrounds" : " on backgrounds"));
            QListWidget* list = foregrounds ? fg : bk;
            const int before = list->count();
            const QString fgBefore = MyGlobal::CurSelection, bkBefore = MyGlobal::CurSelectionBk;
            const int records = releaseRecords();

            QMimeData mime;
            QList<QUrl> urls;
            for (const QString& path : c.dropped)
                urls << QUrl::fromLocalFile(path);
            mime.setUrls(urls);
            const QPointF at(40, 40);
            QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime,
                                  Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(list->viewport(), &enter);
            QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                            Qt::NoModifier);
            QCoreApplication::sendEvent(list->viewport(), &drop);

            const bool usable = !c.added.isEmpty();
            EXPECT_EQ(enter.isAccepted(), usable);
            EXPECT_EQ(drop.isAccepted(), usable);
            if (usable) {
                EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << "never a move";
            }
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
    struct Row {
        int room;
        QString head, tail;  // what the label starts and ends with
    };
    const std::vector<Row> rows = {
        {fm.horizontalAdvance(path), path, path},
        {name + fm.horizontalAdvance(QStringLiteral("/ho…es")), "/h…", "ng/IMG_0042.JPG"},
        {name - 4, "IM", ".JPG"},
    };
    for (const Row& r : rows) {
        const QString label = entryLabel(path, fm, r.room);
        EXPECT_TRUE(label.startsWith(r.head) && label.endsWith(r.tail)) << label.toStdString();
        EXPECT_LE(fm.horizontalAdvance(label), r.room) << label.toStdString();
    }
}

TEST_F(ShootTest, ALongPathIsShownWithinTheListWidth) {
    nextFiles = {makePhoto("a-long-folder-from-the-camera-import/2026-12-05/IMG_0042.png")};
    press("AddForegGround");
    window->show();
    QCoreApplication::processEvents();
    EXPECT_LE(fg->visualItemRect(fg->item(2)).right(), fg->viewport()->width());
    EXPECT_EQ(fg->horizontalScrollBar()->maximum(), 0) << "elided, not scrolled sideways";
}
