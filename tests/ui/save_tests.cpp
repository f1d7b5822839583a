// "Save Image": what is written, where, and what the user is told.
#include <QImageReader>
#include <QListWidget>
#include <QPushButton>

#include "dialog_fixture.h"
#include "png/pngfile.h"
#include "ui/dialog.h"

namespace {

class SaveTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makeBackground("Bkg/bg.png", QSize(240, 180), qRgb(200, 180, 20));
        window = std::make_unique<Dialog>();
        list = window->findChild<QListWidget*>("listWidget");
        QDir().mkpath(MyGlobal::outputDir);
    }

    void add(const QString& path) {
        nextFiles = {path};
        window->findChild<QPushButton*>("AddForegGround")->click();
    }
    void save() { window->findChild<QPushButton*>("Run")->click(); }
    QString out(const QString& name) const { return MyGlobal::outputDir + "/" + name; }

    std::unique_ptr<Dialog> window;
    QListWidget* list = nullptr;
};

}  // namespace

TEST(CompositeFileName, TakesTheNameUpToItsFirstDot) {
    EXPECT_EQ(png::compositeFileName("/out", "/photos/IMG_0042.JPG"), "/out/IMG_0042.png");
    EXPECT_EQ(png::compositeFileName("/out", "/photos/shot.v2.final.jpg"), "/out/shot.png");
    EXPECT_EQ(png::compositeFileName("/out", "/my photos/studio day 1.tif"),
              "/out/studio day 1.png");
}

TEST_F(SaveTest, WritesTheCompositeAndShowsFolderThenFile) {
    add(makePhoto("photos/IMG_0042.JPG"));
    save();
    const QString file = out("IMG_0042.png");
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join("\n").toStdString();
    EXPECT_EQ(opened, (QStringList{MyGlobal::outputDir, file}));

    QImageReader reader(file);
    EXPECT_EQ(reader.format(), QByteArray("png"));
    const QImage written = reader.read();
    ASSERT_FALSE(written.isNull());
    EXPECT_TRUE(written.hasAlphaChannel());
    EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32),
              MyGlobal::ComposImg.convertToFormat(QImage::Format_ARGB32));

    // Every thumbnail is highlighted, row 0 is current, the foreground stays chosen.
    EXPECT_EQ(list->selectedItems().size(), list->count());
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(MyGlobal::CurSelection, m_app.filePath("photos/IMG_0042.JPG"));
    EXPECT_TRUE(window->findChild<QPushButton*>("Run")->isEnabled());
}

TEST_F(SaveTest, ANameWithBlanksReachesTheOpenerAsOneArgument) {
    add(makePhoto("my photos/studio day 1.png"));
    save();
    EXPECT_EQ(opened, (QStringList{MyGlobal::outputDir, out("studio day 1.png")}));
    EXPECT_TRUE(QFileInfo(out("studio day 1.png")).isFile());
}

TEST_F(SaveTest, SameBaseNameReplacesTheEarlierComposite) {
    add(makePhoto("a/shot.png", QSize(160, 120)));
    save();
    add(makePhoto("b/shot.jpg", QSize(90, 60)));
    save();
    EXPECT_EQ(QImage(out("shot.png")).size(), QSize(90, 60));
    EXPECT_EQ(QDir(MyGlobal::outputDir).entryList(QDir::Files), QStringList{"shot.png"});
}

TEST_F(SaveTest, TransparentSaveKeepsTheBackdropTransparent) {
    add(makePhoto("p/solo.png", QSize(160, 120)));
    window->findChild<QAbstractButton*>("transparentbkg")->click();
    save();
    const QImage written(out("solo.png"));
    ASSERT_EQ(written.size(), QSize(160, 120));
    EXPECT_EQ(qAlpha(written.pixel(3, 3)), 0);
    EXPECT_EQ(qAlpha(written.pixel(80, 60)), 255);
}

TEST_F(SaveTest, UnwritableFolderIsToldAndNothingIsOpened) {
    add(makePhoto("p/fail.png"));
    // A file where the folder should be: no user, root included, can write below it.
    QFile blocker(m_app.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    MyGlobal::outputDir = blocker.fileName() + "/Verdalux";
    save();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(QDir::toNativeSeparators(out("fail.png"))))
        << warnings[0].toStdString();
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(SaveTest, NoCompositeYetIsToldAndAnEarlierFileStaysWhole) {
    add(makePhoto("p/early.png"));
    save();
    const QByteArray before = [&] {
        QFile f(out("early.png"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ASSERT_FALSE(before.isEmpty());
    opened.clear();
    MyGlobal::ComposImg = QImage();
    save();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(opened.isEmpty());
    QFile f(out("early.png"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    EXPECT_EQ(QDir(MyGlobal::outputDir).entryList(QDir::Files), QStringList{"early.png"})
        << "no temporary file is left behind";
}

TEST_F(SaveTest, EmptyForegroundListOpensTheChooserAndWritesNothing) {
    list->selectAll();
    window->findChild<QPushButton*>("RemoveForeground")->click();
    ASSERT_EQ(list->count(), 0);
    choosers.clear();
    save();
    EXPECT_EQ(choosers.size(), 1);
    EXPECT_TRUE(choosers[0].startsWith("Select Files for Keying|"));
    EXPECT_TRUE(QDir(MyGlobal::outputDir).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(SaveTest, SavingTwiceWritesAndOpensTwice) {
    add(makePhoto("p/twice.png"));
    save();
    save();
    EXPECT_EQ(opened.size(), 4);
    EXPECT_TRUE(warnings.isEmpty());
}
