// The hot folder: photos already in it, and photos that arrive later.
#include <QApplication>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "dialog_fixture.h"
#include "ui/dialog.h"
#include "ui/preset.h"

namespace {

class HotFolderTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(m_hot.isValid());
        hot = m_hot.path();
        window = std::make_unique<Dialog>();
        list = window->findChild<QListWidget*>("listWidget");
        list->selectAll();
        window->findChild<QPushButton*>("RemoveForeground")->click();
        ASSERT_EQ(list->count(), 0);
        base = QDateTime::currentDateTime().addDays(-1);
        photo("a.jpg", 0);
        photo("B.JPG", 5);
        photo("c.png", 10);
        plain("notes.txt", 12);
        plain("d.gif", 13);
    }

    // A photo in the hot folder, modified `minutes` after a fixed start.
    QString photo(const QString& name, int minutes) {
        QImage img(40, 30, QImage::Format_RGB32);
        img.fill(qRgb(30, 200, 60));
        const QString path = hot + "/" + name;
        EXPECT_TRUE(img.save(path)) << name.toStdString();
        setTime(path, minutes);
        return path;
    }
    void plain(const QString& name, int minutes) {
        QFile f(hot + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.close();
        setTime(f.fileName(), minutes);
    }
    void setTime(const QString& path, int minutes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(base.addSecs(60 * minutes), QFileDevice::FileModificationTime));
    }

    // Presses the hidden "PreSets" button; in the window that opens, Browse picks `folder`
    // (empty: the chooser is cancelled), then the window is closed.
    void runPresets(const QString& folder, bool browse = true) {
        nextFolder = folder;
        QTimer::singleShot(0, [browse] {
            auto* preset = qobject_cast<Preset*>(QApplication::activeModalWidget());
            ASSERT_NE(preset, nullptr);
            if (browse)
                preset->findChild<QPushButton*>("Browse")->click();
            preset->close();
        });
        QMetaObject::invokeMethod(window.get(), "on_Presets_clicked");
    }

    void changed(const QString& path) {
        QMetaObject::invokeMethod(window.get(), "handleDirectoryChanged", Q_ARG(QString, path));
    }

    QStringList names() const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << QFileInfo(list->item(i)->text()).fileName();
        return out;
    }

    QTemporaryDir m_hot;
    QString hot;
    QDateTime base;
    std::unique_ptr<Dialog> window;
    QListWidget* list = nullptr;
};

}  // namespace

TEST_F(HotFolderTest, ChoosingTheFolderAppendsItsPhotosOldestFirst) {
    runPresets(hot);
    EXPECT_EQ(MyGlobal::HotFolder_FG, hot);
    EXPECT_EQ(names(), (QStringList{"a.jpg", "B.JPG", "c.png"}));
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(MyGlobal::CurSelection, hot + "/c.png");
    EXPECT_FALSE(MyGlobal::PrevImg.isNull());
    EXPECT_TRUE(window->findChild<QFileSystemWatcher*>()->directories().contains(hot));
    EXPECT_EQ(choosers, QStringList{"Select Output Directory|" + MyGlobal::outputDir});
}

TEST_F(HotFolderTest, ANewPhotoIsAppendedAndShownWhileTheHighlightStays) {
    runPresets(hot);
    photo("e.tif", 20);
    clearLog();
    changed(hot);
    EXPECT_EQ(names(), (QStringList{"a.jpg", "B.JPG", "c.png", "e.tif"}));
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(MyGlobal::CurSelection, hot + "/e.tif");
    EXPECT_EQ(MyGlobal::LasHotFile, "e.tif");
    EXPECT_TRUE(logText().startsWith("Directory Changed..." + hot.toUtf8() + "\n"));

    changed(hot);
    QFile::remove(hot + "/a.jpg");
    changed(hot);
    EXPECT_EQ(list->count(), 4) << "the newest photo is still the one added last";
}

TEST_F(HotFolderTest, FirstNotificationWithoutNewPhotoAppendsTheNewestAgain) {
    runPresets(hot);
    QFile::remove(hot + "/notes.txt");
    changed(hot);
    EXPECT_EQ(names(), (QStringList{"a.jpg", "B.JPG", "c.png", "c.png"}));
}

TEST_F(HotFolderTest, PressingAgainWithoutChoosingAppendsEverythingOnceMore) {
    runPresets(hot);
    runPresets(QString());
    EXPECT_EQ(names(), (QStringList{"a.jpg", "B.JPG", "c.png", "a.jpg", "B.JPG", "c.png"}));
}

TEST_F(HotFolderTest, WithoutAnyChosenFolderNothingIsScannedOrWatched) {
    const int records = releaseRecords();
    runPresets(QString());
    EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(window->findChild<QFileSystemWatcher*>()->directories().isEmpty());
    EXPECT_EQ(releaseRecords(), records);
}

TEST_F(HotFolderTest, AChangeInAnEarlierFolderLooksAtTheCurrentOne) {
    runPresets(hot);
    QTemporaryDir second;
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(Qt::green);
    ASSERT_TRUE(img.save(second.filePath("z.png")));
    runPresets(second.path());
    const int before = list->count();
    changed(hot);
    ASSERT_EQ(list->count(), before + 1);
    EXPECT_EQ(list->item(before)->text(), second.path() + "/z.png");
}

TEST_F(HotFolderTest, NamePatternsIgnoreCaseAndNothingElse) {
    for (const char* name : {"a.jpg", "B.JPG", "c.png"})
        QFile::remove(hot + "/" + name);
    photo("IMG_0001.JPEG", 1);
    photo("x.Tiff", 2);
    photo("y.XPM", 3);
    plain("z.jpe", 4);
    plain("w.jpg.part", 5);
    runPresets(hot);
    EXPECT_EQ(names(), (QStringList{"IMG_0001.JPEG", "x.Tiff", "y.XPM"}));
}

TEST_F(HotFolderTest, EmptiedFolderOnlyLogs) {
    runPresets(hot);
    for (const char* name : {"a.jpg", "B.JPG", "c.png"})
        QFile::remove(hot + "/" + name);
    clearLog();
    changed(hot);
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(logText(), "Directory Changed..." + hot.toUtf8() + "\n");
}

TEST_F(HotFolderTest, ThePhotoArrivingOnDiskReachesTheListThroughTheWatcher) {
    runPresets(hot);
    photo("live.png", 30);
    EXPECT_TRUE(QTest::qWaitFor([this] { return list->count() == 4; }, 10000));
    EXPECT_EQ(MyGlobal::LasHotFile, "live.png");
}

TEST_F(HotFolderTest, TheFolderWindowShowsTheChosenFolderAndKeepsItOnCancel) {
    Preset preset;
    EXPECT_EQ(preset.windowTitle(), "Dialog");
    EXPECT_EQ(preset.size(), QSize(524, 300));
    auto* browse = preset.findChild<QPushButton*>("Browse");
    auto* label = preset.findChild<QLabel*>("Browsepath");
    ASSERT_TRUE(browse && label);
    EXPECT_EQ(browse->geometry(), QRect(10, 30, 113, 32));
    nextFolder = hot;
    browse->click();
    EXPECT_EQ(label->text(), hot);
    nextFolder.clear();
    browse->click();
    EXPECT_EQ(label->text(), hot);
    EXPECT_EQ(MyGlobal::HotFolder_FG, hot);
}
