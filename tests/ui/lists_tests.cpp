// The foreground and background lists: adding, removing and choosing photos.
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "dialog_fixture.h"
#include "ui/dialog.h"

namespace {

class ListsTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        bg = makeBackground("Bkg/a.png", QSize(200, 150), qRgb(10, 20, 200));
        window = std::make_unique<Dialog>();
        fg = window->findChild<QListWidget*>("listWidget");
        bk = window->findChild<QListWidget*>("listWidget_Bk");
    }

    void press(const char* button) { window->findChild<QPushButton*>(button)->click(); }

    void click(QListWidget* list, int row) {
        const char* slot = list == fg ? "on_listWidget_clicked" : "on_listWidget_Bk_clicked";
        QMetaObject::invokeMethod(window.get(), slot,
                                  Q_ARG(QModelIndex, list->model()->index(row, 0)));
    }

    // Five foregrounds: the two (missing) samples and three real photos.
    QStringList fillFive() {
        nextFiles = {makePhoto("p/one.png"), makePhoto("p/two.png"), makePhoto("p/three.png")};
        press("AddForegGround");
        return nextFiles;
    }

    static QStringList selected(const QListWidget* list) {
        QStringList out;
        for (const QListWidgetItem* item : list->selectedItems())
            out << item->text();
        return out;
    }

    QString bg;
    std::unique_ptr<Dialog> window;
    QListWidget* fg = nullptr;
    QListWidget* bk = nullptr;
};

}  // namespace

TEST_F(ListsTest, ThreeForegroundsFromOneDialogAreAppendedAndTheLastIsCurrent) {
    const QStringList added = fillFive();
    ASSERT_EQ(fg->count(), 5);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fg->item(2 + i)->text(), added[i]);
    EXPECT_EQ(fg->currentRow(), 4);
    EXPECT_EQ(selected(fg), QStringList{added[2]});
    EXPECT_EQ(MyGlobal::CurSelection, added[2]);
    EXPECT_EQ(fg->item(4)->icon().availableSizes(), QList<QSize>{QSize(74, 64)});
    ASSERT_EQ(choosers.size(), 1);
    EXPECT_EQ(choosers[0], "Select Files for Keying|" + photoFolder() +
                               "|Images (*.jpeg *.jpg *.tiff *.tif *.bmp *.png *.xpm)");
    EXPECT_FALSE(MyGlobal::PrevImg.isNull()) << "the new foreground is keyed at once";
}

TEST_F(ListsTest, AddingTheSamePhotoTwiceListsItTwice) {
    const QString photo = makePhoto("p/dup.png");
    nextFiles = {photo, photo};
    press("AddForegGround");
    EXPECT_EQ(fg->count(), 4);
    EXPECT_EQ(fg->item(2)->text(), photo);
    EXPECT_EQ(fg->item(3)->text(), photo);
}

TEST_F(ListsTest, CancelledDialogAddsNothingButStillRefreshes) {
    const int before = releaseRecords();
    press("AddForegGround");
    EXPECT_EQ(fg->count(), 2);
    EXPECT_EQ(releaseRecords(), before + 1);
}

TEST_F(ListsTest, UnreadablePhotoIsListedWithAnEmptyIcon) {
    QFile junk(m_app.filePath("junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a photo");
    junk.close();
    nextFiles = {junk.fileName()};
    press("AddForegGround");
    EXPECT_EQ(fg->item(2)->text(), junk.fileName());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->pendingThumbnails() == 0; }));
    EXPECT_TRUE(fg->item(2)->icon().isNull());
    EXPECT_TRUE(MyGlobal::PrevImg.isNull());
}

TEST_F(ListsTest, AddedBackgroundsShowOnlyFromTheNextRefresh) {
    nextFiles = {makePhoto("p/fg.png")};
    press("AddForegGround");
    const QImage before = MyGlobal::ComposImg;
    ASSERT_FALSE(before.isNull());
    const int records = releaseRecords();

    const QString red = makeBackground("more/red.png", QSize(200, 150), qRgb(220, 0, 0));
    nextFiles = {makeBackground("more/grey.png", QSize(200, 150), qRgb(90, 90, 90)), red};
    press("AddBackground");
    EXPECT_EQ(bk->count(), 3);
    EXPECT_EQ(bk->currentRow(), 2);
    EXPECT_EQ(selected(bk), QStringList{red});
    EXPECT_EQ(MyGlobal::CurSelectionBk, red);
    EXPECT_EQ(releaseRecords(), records) << "adding backgrounds does not refresh";
    EXPECT_EQ(MyGlobal::ComposImg, before);

    press("refreshPreview");
    EXPECT_NE(MyGlobal::ComposImg, before);
    EXPECT_EQ(MyGlobal::ComposImg.pixel(0, 0), qRgb(220, 0, 0)) << "the backdrop shows red";
}

TEST_F(ListsTest, RemovingTheCurrentEntryMakesTheOneAboveCurrent) {
    fillFive();
    click(fg, 3);
    const QString above = fg->item(2)->text();
    press("RemoveForeground");
    EXPECT_EQ(fg->count(), 4);
    EXPECT_EQ(fg->currentRow(), 2);
    EXPECT_EQ(selected(fg), QStringList{above});
    EXPECT_EQ(MyGlobal::CurSelection, above);
}

TEST_F(ListsTest, RemovingTheFirstEntryMakesTheFormerSecondCurrent) {
    fillFive();
    click(fg, 0);
    const QString second = fg->item(1)->text();
    press("RemoveForeground");
    EXPECT_EQ(fg->count(), 4);
    EXPECT_EQ(fg->currentRow(), 0);
    EXPECT_EQ(MyGlobal::CurSelection, second);
}

TEST_F(ListsTest, RemovingTheOnlyEntryKeepsTheLastPhotoAndThePreview) {
    click(fg, 0);
    press("RemoveForeground");
    ASSERT_EQ(fg->count(), 1);
    const QString last = fg->item(0)->text();
    EXPECT_EQ(MyGlobal::CurSelection, last);
    const int records = releaseRecords();
    press("RemoveForeground");
    EXPECT_EQ(fg->count(), 0);
    EXPECT_EQ(MyGlobal::CurSelection, last);
    EXPECT_EQ(releaseRecords(), records) << "no refresh";

    click(bk, 0);
    press("RemoveBackground");
    EXPECT_EQ(bk->count(), 0);
    EXPECT_EQ(MyGlobal::CurSelectionBk, bg);
}

TEST_F(ListsTest, RemoveTakesExactlyTheSelectedEntries) {
    fillFive();
    click(fg, 1);
    const QString current = fg->item(1)->text();
    const QString kept = fg->item(2)->text();
    fg->item(1)->setSelected(false);
    fg->item(3)->setSelected(true);
    fg->item(4)->setSelected(true);
    press("RemoveForeground");
    ASSERT_EQ(fg->count(), 3);
    EXPECT_EQ(fg->item(1)->text(), current);
    EXPECT_EQ(fg->item(2)->text(), kept);
    EXPECT_EQ(fg->currentRow(), 1);
    EXPECT_EQ(MyGlobal::CurSelection, current);
}

TEST_F(ListsTest, RemoveWithEverythingSelectedEmptiesTheList) {
    fillFive();
    fg->selectAll();
    press("RemoveForeground");
    EXPECT_EQ(fg->count(), 0);
}

TEST_F(ListsTest, RemoveWithNothingSelectedReselectsTheCurrentEntry) {
    fillFive();
    click(fg, 2);
    fg->clearSelection();
    const int records = releaseRecords();
    press("RemoveForeground");
    EXPECT_EQ(fg->count(), 5);
    EXPECT_EQ(selected(fg), QStringList{fg->item(2)->text()});
    EXPECT_EQ(MyGlobal::CurSelection, fg->item(2)->text());
    EXPECT_EQ(releaseRecords(), records + 1);
}

TEST_F(ListsTest, ChoosingAForegroundPutsItBackAtItsHomePosition) {
    const QStringList added = fillFive();
    MyGlobal::xshiftFG = 40;
    MyGlobal::yshiftFG = -12;
    click(fg, 3);
    EXPECT_EQ(MyGlobal::CurSelection, added[1]);
    EXPECT_EQ(MyGlobal::xshiftFG, 0);
    EXPECT_EQ(MyGlobal::yshiftFG, 0);
    EXPECT_EQ(selected(fg), QStringList{added[1]});
    EXPECT_FALSE(MyGlobal::PrevImg.isNull());
}

TEST_F(ListsTest, ChoosingABackgroundReKeysAtTheLastClickedPoint) {
    nextFiles = {makeBackground("more/b.png", QSize(300, 200), qRgb(0, 0, 0))};
    press("AddBackground");
    MyGlobal::xshiftFG = 25;
    MyGlobal::xyClicked = QPoint(120, 45);
    clearLog();
    click(bk, 0);
    EXPECT_EQ(MyGlobal::CurSelectionBk, bg);
    EXPECT_EQ(MyGlobal::xyClicked, QPoint(120, 45));
    EXPECT_EQ(MyGlobal::xshiftFG, 25);
    EXPECT_EQ(logText(), QByteArray(" release ev = 120, 45\n"));
}
