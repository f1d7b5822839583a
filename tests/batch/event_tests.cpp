// An event's shoot: every guest over each background, a frame on top, settings carried over
// from the window, and the keyers' contact sheet.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QSpinBox>
#include <QTemporaryDir>

#include "batch/contactsheet.h"
#include "batch_process.h"
#include "qt_printers.h"
#include "support/files.h"
#include "support/photos.h"
#include "ui/window_fixture.h"

namespace {

QImage argb(const QString& file) {
    return QImage(file).convertToFormat(QImage::Format_ARGB32);
}

// The largest difference of any channel of any pixel; -1 when the sizes differ.
int maxDiff(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int shift : {0, 8, 16, 24})
                most = std::max(most, std::abs(int((p >> shift) & 255) - int((q >> shift) & 255)));
        }
    return most;
}

// A frame with transparency: an opaque red border, a half-transparent white band, clear inside.
QString frameFile(const QString& path, QSize size, QRgb border = qRgb(200, 30, 60)) {
    QImage f(size, QImage::Format_ARGB32);
    f.fill(Qt::transparent);
    QPainter p(&f);
    p.fillRect(f.rect(), QColor(border));
    p.setCompositionMode(QPainter::CompositionMode_Source);
    const int b = size.width() / 12;
    p.fillRect(f.rect().adjusted(b, b, -b, -b), QColor(255, 255, 255, 128));
    p.fillRect(f.rect().adjusted(2 * b, 2 * b, -2 * b, -2 * b), Qt::transparent);
    p.end();
    EXPECT_TRUE(f.save(path));
    return path;
}

class EventRun : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    BatchResult run(const QStringList& args) { return runBatchTool(args, path("home")); }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(EventRun, EachGuestOverEachBackgroundIsNamedForBothAndIsItsOneBackgroundRun) {
    const QStringList guests = {photos::saved(path("in/guest.1.jpg"), {160, 120}),
                                photos::saved(path("in/bride.png"), {120, 160})};
    const QStringList backgrounds = {photos::saved(path("bg/beach.jpg"), {240, 180}),
                                     photos::saved(path("bg/sky.png"), {100, 200}),
                                     photos::saved(path("bg/hall.jpg"), {300, 200})};
    const QStringList look = {"--bg-scale", "fill", "--offset", "12,-7", "--magic", "10"};
    QStringList args = look + QStringList{"--output-dir", path("out")};
    for (const QString& bg : backgrounds)
        args << "--background" << bg;
    const BatchResult r = run(args + guests);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("[6/6]")) << "progress counts results";
    EXPECT_TRUE(r.err.contains("6 written, 0 failed"));
    const struct {
        int guest, background;
        const char* name;
    } results[] = {{0, 0, "guest.1-beach.png"}, {0, 1, "guest.1-sky.png"},
                   {0, 2, "guest.1-hall.png"},  {1, 0, "bride-beach.png"},
                   {1, 1, "bride-sky.png"},     {1, 2, "bride-hall.png"}};
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files).size(), 6);
    for (const auto& c : results) {
        SCOPED_TRACE(c.name);
        const QString one = path(QStringLiteral("one/%1").arg(c.background));
        const BatchResult single =
            run(look + QStringList{"--output-dir", one, "--background", backgrounds[c.background],
                                   guests[c.guest]});
        ASSERT_EQ(single.status, 0) << single.err.toStdString();
        const QImage want =
            argb(one + "/" + QFileInfo(guests[c.guest]).completeBaseName() + ".png");
        ASSERT_FALSE(want.isNull());
        EXPECT_EQ(argb(path("out/") + c.name), want);
    }
    // A run again replaces its own six results; it numbers none.
    ASSERT_EQ(run(args + guests).status, 0);
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files).size(), 6);
}

TEST_F(EventRun, TheOverlayLiesOnTopWithItsAlphaAndBandsAreTold) {
    const QString guest = photos::saved(path("guest.jpg"), {240, 160});
    const QString bg = photos::saved(path("bg.jpg"), {300, 200});
    const struct {
        QSize frame;
        bool bands;
    } cases[] = {{{120, 80}, false}, {{80, 120}, true}, {{900, 600}, false}};
    const BatchResult plain = run({"--background", bg, "--output-dir", path("plain"), guest});
    ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
    const QImage under = argb(path("plain/guest.png"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame.width());
        const QString frame = frameFile(path("frame.png"), c.frame);
        const QString out = path(QStringLiteral("framed%1").arg(c.frame.width()));
        const BatchResult r =
            run({"--background", bg, "--overlay", frame, "--output-dir", out, guest});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(r.err.contains("its proportions"), c.bands) << r.err.toStdString();
        QImage want = under.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage fitted =
            QImage(frame).scaled(want.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter p(&want);
        p.drawImage((want.width() - fitted.width()) / 2, (want.height() - fitted.height()) / 2,
                    fitted);
        p.end();
        EXPECT_LE(maxDiff(argb(out + "/guest.png"), want.convertToFormat(QImage::Format_ARGB32)),
                  0);
    }
}

TEST_F(EventRun, ASettingsFileGivesTheOptionsResultAndTheCommandLineWins) {
    const QString guest = photos::saved(path("guest.jpg"), {200, 150});
    const QString beach = photos::saved(path("beach.jpg"), {240, 180});
    const QString hall = photos::saved(path("hall.png"), {150, 150});
    const QString file =
        writeFile(path("event.ini"), ("magic=3\nfine=20\nbg-scale=fill\noffset=40,-10\n"
                                      "correct-spill=true\nblue=false\nbackground=" +
                                      beach + "\n")
                                         .toUtf8());
    const struct {
        const char* name;
        QStringList given, same;
    } cases[] = {
        {"file alone",
         {},
         {"--magic", "3", "--fine", "20", "--bg-scale", "fill", "--offset", "40,-10",
          "--correct-spill", "--background", beach}},
        {"an option wins",
         {"--magic", "7", "--background", hall},
         {"--magic", "7", "--fine", "20", "--bg-scale", "fill", "--offset", "40,-10",
          "--correct-spill", "--background", hall}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString a = path(QStringLiteral("a/%1").arg(c.name)),
                      b = path(QStringLiteral("b/%1").arg(c.name));
        const BatchResult viaFile =
            run(QStringList{"--settings", file, "--output-dir", a} + c.given << guest);
        const BatchResult viaOptions = run(c.same + QStringList{"--output-dir", b, guest});
        ASSERT_EQ(viaFile.status, 0) << viaFile.err.toStdString();
        ASSERT_EQ(viaOptions.status, 0) << viaOptions.err.toStdString();
        EXPECT_EQ(argb(a + "/guest.png"), argb(b + "/guest.png"));
    }
    writeFile(path("bad.ini"), "magic=3\nmagik=4\n");
    const BatchResult bad = run({"--settings", path("bad.ini"), "--output-dir", path("c"), guest});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.err.contains(path("bad.ini") + ": \"magik\" is not an option"))
        << bad.err.toStdString();
}

TEST_F(EventRun, TheContactSheetHoldsTheTenKeyersInLabelledCells) {
    const QString guest = photos::saved(path("guest.jpg"), {240, 160});
    const QString bg = photos::saved(path("bg.png"), {240, 160}, 0xff4060a0);
    const BatchResult r =
        run({"--contact-sheet", "--background", bg, "--output-dir", path("sheet"), guest});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QImage sheet = argb(path("sheet/guest-keyers.png"));
    ASSERT_EQ(sheet.size(), batch::sheetSize({240, 160}));
    QList<QImage> labels;
    for (int magic = 1; magic <= 10; ++magic) {
        SCOPED_TRACE(magic);
        const QString one = path(QStringLiteral("one/%1").arg(magic));
        ASSERT_EQ(
            run({"--magic", QString::number(magic), "--background", bg, "--output-dir", one, guest})
                .status,
            0);
        const QRect at = batch::sheetPicture(magic, {240, 160});
        // Scaled as the composite is, premultiplied.
        const QImage want = argb(one + "/guest.png")
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                .scaled(at.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(maxDiff(sheet.copy(at), want), 0);
        const QImage label = sheet.copy(batch::sheetLabel(magic, {240, 160}));
        EXPECT_NE(label, QImage(label.size(), label.format())) << "a label is written";
        EXPECT_FALSE(labels.contains(label)) << "each label its own";
        labels << label;
    }
}

namespace {

class EventWindow : public WindowTest {
protected:
    QAction* previewAction(const QString& text) {
        qDeleteAll(view->findChildren<QMenu*>());
        emit view->customContextMenuRequested(QPoint(100, 100));
        for (QMenu* menu : view->findChildren<QMenu*>())
            for (QAction* a : menu->actions())
                if (a->text() == text)
                    return a;
        return nullptr;
    }
};

}  // namespace

TEST_F(EventWindow, CopiedBatchSettingsGiveTheWindowsSaveWithItsOverlay) {
    const struct {
        const char* name;
        QStringList buttons;  // clicked in the window, in order
        bool fill;
        bool replaceFrame;  // a second frame chosen after the first
        QRgb border;        // the saved image's left edge, half-way down
    } looks[] = {
        {"FilledOnTheBackgroundCanvas", {"checkBox", "canv_fg_2"}, true, false, qRgb(200, 30, 60)},
        {"TopLeftOwnSizeFrameReplaced",
         {"bg_align00", "bg_actualSize"},
         false,
         true,
         qRgb(20, 90, 200)},
    };
    installSamples();
    QDir().mkpath(MyGlobal::outputDir);
    for (const auto& look : looks) {
        SCOPED_TRACE(look.name);
        SharedStart::values().restore();
        const QString frame = frameFile(m_app.filePath("frame, with comma.png"), {300, 200});
        const QString second =
            frameFile(m_app.filePath("second frame.png"), {400, 300}, qRgb(20, 90, 200));
        open();
        get<QSpinBox>("spill")->setValue(12);
        for (const QString& button : look.buttons)
            get(button.toLatin1().constData())->click();
        nextFiles = {frame};
        previewAction("Overlay Frame...")->trigger();
        refreshed();
        if (look.replaceFrame) {
            nextFiles = {second};
            previewAction("Overlay Frame...")->trigger();
            refreshed();
        }
        if (look.fill) {
            previewAction("Fill Without Stretching")->trigger();
            refreshed();
        }
        mouse(view, QEvent::MouseButtonPress, {150, 150});
        mouse(view, QEvent::MouseMove, {170, 135});
        mouse(view, QEvent::MouseButtonRelease, {170, 135});
        refreshed();
        previewAction("Copy Batch Settings")->trigger();
        const QString text = QGuiApplication::clipboard()->text();
        EXPECT_TRUE(text.contains("overlay=")) << text.toStdString();
        QFile::remove(MyGlobal::outputDir + "/1green.png");
        get("Run")->click();
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
        const QImage saved = argb(MyGlobal::outputDir + "/1green.png");
        ASSERT_FALSE(saved.isNull());
        EXPECT_EQ(saved.pixel(2, saved.height() / 2), look.border) << "the frame's border";

        const QString settings = writeFile(m_app.filePath("from window.ini"), text.toUtf8());
        const QString out = m_app.filePath(QStringLiteral("batch/%1").arg(look.name));
        const BatchResult r =
            runBatchTool({"--settings", settings, "--output-dir", out, MyGlobal::CurSelection},
                         m_app.filePath("home"));
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(argb(out + "/1green.png"), saved);
        window.reset();
    }
}
