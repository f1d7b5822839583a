// The window with photos it cannot use: entries say why, the preview empties, a hot-folder
// photo still being written is shown again once complete, and the desktop's programs get the
// user's environment.
#include <sys/stat.h>
#include <QBuffer>
#include <QGraphicsScene>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "compose/window/gview.h"
#include "core/startup.h"
#include "ui/dialog.h"
#include "ui/dialog_fixture.h"
#include "ui/settlewatch.h"

namespace {

class BadPhotoWindow : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        installSamples();
        window = std::make_unique<Dialog>();
        list = window->findChild<QListWidget*>("listWidget");
    }
    // A textured JPEG, green above and blue below: a cut-off part decodes grey.
    QByteArray jpeg(QSize size) {
        QImage img(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                img.setPixel(x, y,
                             y < size.height() / 2 ? qRgb(30 + (x + y) % 24, 200, 60)
                                                   : qRgb(20, 40 + (x * y) % 24, 220));
        QByteArray out;
        QBuffer buffer(&out);
        EXPECT_TRUE(buffer.open(QIODevice::WriteOnly) && img.save(&buffer, "JPG", 90));
        return out;
    }
    QString write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return path;
    }
    std::unique_ptr<Dialog> window;
    QListWidget* list = nullptr;
};

}  // namespace

TEST_F(BadPhotoWindow, EntriesSayWhyAndAnUnusableForegroundEmptiesThePreview) {
    const QByteArray full = jpeg(QSize(160, 120));
    const QString cut = write(m_app.filePath("cut.jpg"), full.left(full.size() / 2));
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_app.filePath("pipe.jpg")).constData(), 0600), 0);
    const struct {
        QString path;
        bool icon;
        const char* tooltip;
    } cases[] = {{makePhoto("good.png"), true, ""},
                 {cut, true, "Damaged: Corrupt JPEG data"},
                 {m_app.filePath("pipe.jpg"), false, "Not a regular file"}};
    for (const auto& c : cases)
        nextFiles << c.path;
    window->findChild<QPushButton*>("AddForegGround")->click();  // never blocks on the pipe
    ASSERT_EQ(list->count(), 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->pendingThumbnails() == 0; }, 10000));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(!list->item(i + 2)->icon().isNull(), cases[i].icon) << cases[i].tooltip;
        const QString tip = list->item(i + 2)->toolTip();
        EXPECT_TRUE(tip.contains(cases[i].tooltip)) << tip.toStdString();
    }
    // The pipe is the current foreground: no composite, so no stale preview either.
    EXPECT_TRUE(MyGlobal::ComposImg.isNull());
    EXPECT_TRUE(window->findChild<Gview*>("graphicsView")->scene()->items().isEmpty());
}

TEST_F(BadPhotoWindow, AHotFolderPhotoWrittenInTwoStepsIsShownAgainWhenComplete) {
    MyGlobal::HotFolder_FG = m_app.filePath("hot");
    QDir().mkpath(MyGlobal::HotFolder_FG);
    const QByteArray full = jpeg(QSize(160, 120));
    QFile shot(MyGlobal::HotFolder_FG + "/shot.jpg");  // written in two steps
    ASSERT_TRUE(shot.open(QIODevice::WriteOnly));
    shot.write(full.left(full.size() / 3));
    shot.flush();
    QMetaObject::invokeMethod(window.get(), "handleDirectoryChanged",
                              Q_ARG(QString, MyGlobal::HotFolder_FG));
    QListWidgetItem* item = list->item(list->count() - 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->pendingThumbnails() == 0; }, 10000));
    EXPECT_TRUE(item->toolTip().contains("Damaged")) << item->toolTip().toStdString();
    const QPoint bottom(80, 110);
    ASSERT_TRUE(MyGlobal::PrevImg.valid(bottom));
    EXPECT_NE(MyGlobal::PrevImg.pixel(bottom), qRgb(20, 40, 220)) << "cut off: grey";
    shot.write(full.mid(full.size() / 3));
    shot.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !item->toolTip().contains("Damaged"); }, 5000));
    EXPECT_GT(qBlue(MyGlobal::PrevImg.pixel(bottom)), 200) << "the preview is redone";
}

TEST_F(BadPhotoWindow, TheDesktopsOpenerGetsTheUsersEnvironment) {
    // A stand-in opener that writes down its environment.
    const QString bin = m_app.filePath("bin");
    QDir().mkpath(bin);
    const QString opener = write(bin + "/xdg-open", "#!/bin/sh\nenv > \"$0.env\"\n");
    QFile::setPermissions(opener, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ":" + path);
    qunsetenv("QT_FONT_DPI");
    startup::setOwnVariable("QT_FONT_DPI", "72");
    resetDesktop();
    desktop().open(m_app.filePath("out"));
    qputenv("PATH", path);
    QFile env(opener + ".env");
    ASSERT_TRUE(env.open(QIODevice::ReadOnly));
    const QByteArray seen = env.readAll();
    EXPECT_EQ(qgetenv("QT_FONT_DPI"), "72") << "ours stays";
    EXPECT_FALSE(seen.contains("QT_FONT_DPI=")) << seen.toStdString();
    EXPECT_FALSE(seen.contains("hugetlb")) << seen.toStdString();
    EXPECT_FALSE(qgetenv("GLIBC_TUNABLES").contains("hugetlb")) << "given back after start-up";
    qunsetenv("QT_FONT_DPI");
}
