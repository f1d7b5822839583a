// The foreground and background lists, and Save Image.
#include <QImageReader>
#include <QPushButton>
#include <QTest>

#include "window_fixture.h"

namespace {

class Lists : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        bg = makePhoto("Bkg/a.png", QSize(200, 150), qRgb(10, 20, 200));
        open();
        QDir().mkpath(MyGlobal::outputDir);
    }
    void click(QListWidget* list, int row) { emit list->clicked(list->model()->index(row, 0)); }
    QStringList selected(const QListWidget* list) const {
        QStringList out;
        for (const QListWidgetItem* item : list->selectedItems())
            out << item->text();
        return out;
    }
    QStringList items(const QListWidget* list) const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << QFileInfo(list->item(i)->text()).fileName();
        return out;
    }
    QString out(const QString& name) const { return MyGlobal::outputDir + "/" + name; }

    QString bg;
};

}  // namespace

TEST_F(Lists, AddedForegroundsAreAppendedTheLastCurrentAndKeyedAtOnce) {
    add({makePhoto("p/one.png"), makePhoto("p/two.png"), makePhoto("p/two.png")});
    EXPECT_EQ(items(fg), (QStringList{"1green.JPG", "blue1.JPG", "one.png", "two.png", "two.png"}));
    EXPECT_EQ(fg->currentRow(), 4);
    EXPECT_EQ(selected(fg).size(), 1);
    EXPECT_EQ(MyGlobal::CurSelection, m_app.filePath("p/two.png"));
    EXPECT_EQ(fg->item(4)->icon().availableSizes(), QList<QSize>{QSize(74, 64)});
    EXPECT_EQ(choosers, QStringList{"Select Files for Keying|" + photoFolder() +
                                    "|Images (*.jpeg *.jpg *.tiff *.tif *.bmp *.png *.xpm)"});
    EXPECT_FALSE(MyGlobal::PrevImg.isNull());

    // Choosing a foreground puts it back at its home position.
    MyGlobal::xshiftFG = 40;
    MyGlobal::yshiftFG = -12;
    click(fg, 2);
    EXPECT_EQ(MyGlobal::CurSelection, m_app.filePath("p/one.png"));
    EXPECT_EQ(MyGlobal::xshiftFG, 0);
    EXPECT_EQ(MyGlobal::yshiftFG, 0);

    // Added backgrounds wait for a refresh; choosing one keys again at the clicked point.
    const int records = releaseRecords();
    add({makePhoto("more/red.png", QSize(200, 150), qRgb(220, 0, 0))}, "AddBackground");
    EXPECT_EQ(MyGlobal::CurSelectionBk, m_app.filePath("more/red.png"));
    EXPECT_EQ(releaseRecords(), records);
    MyGlobal::xshiftFG = 25;
    MyGlobal::xyClicked = QPoint(120, 45);
    clearLog();
    click(bk, 0);
    EXPECT_EQ(MyGlobal::CurSelectionBk, bg);
    EXPECT_EQ(MyGlobal::xshiftFG, 25);
    EXPECT_EQ(logText(), QByteArray(" release ev = 120, 45\n"));
}

TEST_F(Lists, RemoveTakesTheSelectedEntriesAndMakesANeighbourCurrent) {
    // `count` entries 0..; `current` is clicked, then the selection changed; the entries left
    // and the new current one (-1: none, the removed one stays shown) by their first positions.
    const struct {
        int current;
        std::vector<int> select, deselect;
        std::vector<int> left;
        int now, count = 5;
    } cases[] = {
        {3, {}, {}, {0, 1, 2, 4}, 2},     {0, {}, {}, {1, 2, 3, 4}, 1},
        {1, {3, 4}, {1}, {0, 1, 2}, 1},   {2, {0, 1, 3, 4}, {}, {}, -1},
        {2, {}, {2}, {0, 1, 2, 3, 4}, 2}, {0, {}, {}, {}, -1, 1},
    };
    const auto name = [](int row) { return QString::number(row) + ".png"; };
    for (const auto& c : cases) {
        fg->clear();
        QStringList files;
        for (int row = 0; row < c.count; ++row)
            files << makePhoto("p/" + name(row));
        add(files);
        click(fg, c.current);
        for (int row : c.select)
            fg->item(row)->setSelected(true);
        for (int row : c.deselect)
            fg->item(row)->setSelected(false);
        const int records = releaseRecords();
        get("RemoveForeground")->click();
        QStringList left;
        for (int row : c.left)
            left << name(row);
        EXPECT_EQ(items(fg), left) << "current " << c.current;
        const QString now = m_app.filePath("p/" + name(c.now < 0 ? c.current : c.now));
        EXPECT_EQ(selected(fg), c.now < 0 ? QStringList() : QStringList{now});
        EXPECT_EQ(MyGlobal::CurSelection, now);
        EXPECT_EQ(releaseRecords(), records + (c.now < 0 ? 0 : 1));
    }
}

TEST_F(Lists, SaveWritesTheCompositeThenShowsFolderAndFile) {
    add({makePhoto("photos/IMG_0042.JPG")});
    get("Run")->click();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join("\n").toStdString();
    EXPECT_EQ(opened, (QStringList{MyGlobal::outputDir, out("IMG_0042.png")}));
    QImageReader reader(out("IMG_0042.png"));
    EXPECT_EQ(reader.format(), QByteArray("png"));
    EXPECT_EQ(reader.read().convertToFormat(QImage::Format_ARGB32),
              MyGlobal::ComposImg.convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(fg->selectedItems().size(), fg->count());
    EXPECT_EQ(MyGlobal::CurSelection, m_app.filePath("photos/IMG_0042.JPG"));

    // No composite: the user is told and the earlier file stays whole.
    const QByteArray earlier = readFile(out("IMG_0042.png"));
    ASSERT_FALSE(earlier.isEmpty());
    opened.clear();
    MyGlobal::ComposImg = QImage();
    get("Run")->click();
    EXPECT_EQ(warnings.size(), 1);
    EXPECT_EQ(readFile(out("IMG_0042.png")), earlier);
    EXPECT_EQ(QDir(MyGlobal::outputDir).entryList(QDir::Files), QStringList{"IMG_0042.png"});

    // A file where the folder should be: nobody, root included, can write below it.
    get("refreshPreview")->click();
    MyGlobal::outputDir = bg + "/Verdalux";
    get("Run")->click();
    ASSERT_EQ(warnings.size(), 2);
    EXPECT_TRUE(warnings[1].contains(QDir::toNativeSeparators(out("IMG_0042.png"))));
    EXPECT_TRUE(opened.isEmpty());
}
