// The batch tool's file for a photo and settings is the file "Save Image" writes for them in the
// window: the real Dialog is driven offscreen with the settings the tool's options name, and the
// settings the window copies for the tool give that file too.
#include <QClipboard>
#include <QColorSpace>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSlider>
#include <QSpinBox>
#include <map>

#include "batch_process.h"
#include "exif_jpeg.h"
#include "qt_printers.h"
#include "results/photonames.h"
#include "support/plates.h"
#include "ui/window_fixture.h"

namespace {

struct Look {
    const char* name;
    const char* foreground;  // a sample photo
    const char* background;  // a sample background
    // The batch tool's, and what is set in the window. Each "--overlay" is chosen in turn in the
    // window, so a later one replaces the one before; the tool is given the last.
    QStringList options;
    bool adobeRgb = false;  // the foreground made an Adobe RGB shot with the camera's EXIF
    QRgb border = 0;        // the saved image's left edge half-way down: the frame's; 0: no frame
};

class SameAsTheWindow : public WindowTest, public ::testing::WithParamInterface<Look> {
protected:
    QAction* previewAction(const QString& text) { return menuAction(view, {100, 100}, text); }
    // What "Save Image" writes after the photographer sets in the window what `l` names.
    QString saveInWindow(const Look& l) {
        open();
        for (const auto& [list, file] : {std::pair(fg, l.foreground), std::pair(bk, l.background)})
            for (int row = 0; row < list->count(); ++row)
                if (list->item(row)->text() == m_app.filePath(file))
                    click(list, row);
        // Each option's control; a choice's button is found by the value chosen.
        const std::map<QString, const char*> spins{{"--magic", "spinBox"},
                                                   {"--fine", "fine"},
                                                   {"--coarse", "coarse"},
                                                   {"--spill", "spill"}};
        const std::map<QString, const char*> buttons{
            {"--correct-spill", "checkBox"},     {"--blue", "radioBlue"},
            {"--transparent", "transparentbkg"}, {"background", "canv_fg_2"},
            {"top-left", "bg_align00"},          {"actual", "bg_actualSize"}};
        QPoint drag;
        for (int i = 0; i < l.options.size(); ++i) {
            const QString& o = l.options[i];
            if (spins.count(o))
                get<QSpinBox>(spins.at(o))->setValue(l.options[++i].toInt());
            else if (buttons.count(o))
                get(buttons.at(o))->click();
            else if (o == "--rotation")
                get<QComboBox>("Rotation")->setCurrentText(l.options[++i]);
            else if (o == "--fg-size")
                get<QSlider>("fg_size")->setValue(l.options[++i].toInt());
            else if (o == "--offset") {
                const QString xy = l.options[++i];
                drag = QPoint(xy.section(',', 0, 0).toInt(), xy.section(',', 1).toInt());
            } else if (o == "fill") {
                previewAction("Fill Without Stretching")->trigger();
                refreshed();
            } else if (o == "--overlay") {
                nextFiles = {m_app.filePath(l.options[++i])};
                previewAction("Overlay Frame...")->trigger();
                refreshed();
            }
        }
        get("refreshPreview")->click();
        const QPoint from(150, 150), to = from + drag;
        mouse(view, QEvent::MouseButtonPress, from);
        mouse(view, QEvent::MouseMove, to);
        mouse(view, QEvent::MouseButtonRelease, to);
        refreshed();
        previewAction("Copy Batch Settings")->trigger();
        copied = QGuiApplication::clipboard()->text();
        get("Run")->click();
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
        return MyGlobal::outputDir + "/" + results::resultName(l.foreground);
    }
    QString copied;  // the window's "Copy Batch Settings"
};

}  // namespace

TEST_P(SameAsTheWindow, TheBatchFileDecodesToTheWindowsSave) {
    installSamples();
    QDir().mkpath(MyGlobal::outputDir);
    photos::frame(m_app.filePath("frame, with comma.png"), {300, 200});
    photos::frame(m_app.filePath("second frame.png"), {400, 300}, qRgb(20, 90, 200));
    const Look look = GetParam();
    if (look.adobeRgb) {
        QImage shot(m_app.filePath(look.foreground));
        shot.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
        QFile file(m_app.filePath(look.foreground));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(withExifBlock(photos::encoded(shot, "JPG", 95),
                                 cameraExif("Canon", "EOS R5", "2026:12:05 14:03:27", 0xFFFF)));
    }
    const QString savedFile = saveInWindow(look);
    const QImage saved(savedFile);
    ASSERT_FALSE(saved.isNull());
    EXPECT_TRUE(!look.border || saved.pixel(2, saved.height() / 2) == look.border)
        << "the frame's border";
    const QByteArray savedBytes = readFile(savedFile);
    // The tool given the look's options, then the settings the window copied for it.
    const qsizetype lastFrame = look.options.lastIndexOf("--overlay");
    QStringList args;
    for (qsizetype i = 0; i < look.options.size(); ++i)
        if (look.options[i] != "--overlay")
            args << look.options[i];
        else if (i++ == lastFrame)
            args << "--overlay" << m_app.filePath(look.options[i]);
    if (!look.options.contains("--transparent"))
        args << "--background" << m_app.filePath(look.background);
    const QString settings = writeFile(m_app.filePath("from window.ini"), copied.toUtf8());
    for (const QStringList& given : {args, QStringList{"--settings", settings}}) {
        SCOPED_TRACE(given.join(' ').toStdString());
        const QString out = m_app.filePath(given.contains("--settings") ? "copied" : "batch");
        const BatchResult r =
            runBatchTool(given + QStringList{"--output-dir", out, m_app.filePath(look.foreground)},
                         m_app.filePath("home"));
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QImage batch(out + "/" + results::resultName(look.foreground));
        ASSERT_EQ(batch.format(), saved.format());
        ASSERT_EQ(batch.size(), saved.size());
        EXPECT_TRUE(batch == saved) << "pixels differ";
        // The same file: colour space and camera description included.
        EXPECT_TRUE(readFile(out + "/" + QFileInfo(look.foreground).baseName() + ".png") ==
                    savedBytes);
    }
    const PhotoLoad load = readPhoto(savedFile);
    EXPECT_EQ(load.image.colorSpace(),
              QColorSpace(look.adobeRgb ? QColorSpace::AdobeRgb : QColorSpace::SRgb));
    EXPECT_EQ(load.camera.model, look.adobeRgb ? QByteArray("EOS R5") : QByteArray());
}

INSTANTIATE_TEST_SUITE_P(
    Looks, SameAsTheWindow,
    ::testing::Values(
        Look{"Defaults", "1green.JPG", "Bkg/beach.JPG", {}},
        Look{"RatioKeyerSmallOnTheBackgroundCanvas",
             "1green.JPG",
             "Bkg/landscape.jpg",
             {"--magic", "1", "--fine", "20", "--coarse", "-10", "--fg-size", "60", "--canvas",
              "background", "--align", "top-left", "--offset", "37,-21"}},
        Look{"SoftKeyOnBlueTurnedWithSpillCorrection",
             "blue1.JPG",
             "Bkg/studio_paper.png",
             {"--magic", "10", "--spill", "12", "--correct-spill", "--blue", "--rotation", "90",
              "--bg-scale", "actual", "--offset", "-15,9"}},
        Look{"EstimatedBackdropEnlargedAndDragged",
             "1green.JPG",
             "Bkg/interior.png",
             {"--fine", "-30", "--spill", "20", "--correct-spill", "--rotation", "180", "--fg-size",
              "150", "--offset", "60,40"}},
        Look{"BlueRatioKeyTransparentTurned",
             "blue1.JPG",
             "Bkg/sky.jpg",
             {"--magic", "3", "--fine", "10", "--blue", "--transparent", "--rotation", "270"}},
        Look{"AdobeRgbShotOverAnSrgbBackground",
             "1green.JPG",
             "Bkg/beach.JPG",
             {"--canvas", "background", "--offset", "20,10"},
             true},
        Look{"FilledOnTheBackgroundCanvasUnderAFrame",
             "1green.JPG",
             "Bkg/beach.JPG",
             {"--spill", "12", "--correct-spill", "--canvas", "background", "--overlay",
              "frame, with comma.png", "--bg-scale", "fill", "--offset", "20,-15"},
             false,
             qRgb(200, 30, 60)},
        Look{"TopLeftOwnSizeFrameReplaced",
             "1green.JPG",
             "Bkg/beach.JPG",
             {"--spill", "12", "--align", "top-left", "--bg-scale", "actual", "--overlay",
              "frame, with comma.png", "--overlay", "second frame.png", "--offset", "20,-15"},
             false,
             qRgb(20, 90, 200)}),
    [](const ::testing::TestParamInfo<Look>& info) { return std::string(info.param.name); });

namespace {

class PlateInTheWindow : public WindowTest {
protected:
    // The action of the foreground list's menu opened over `row`.
    QAction* menuAction(int row, const QString& text) {
        return WindowTest::menuAction(fg, fg->visualItemRect(fg->item(row)).center(), text);
    }
    void choose(int row) {
        click(fg, row);
        refreshed();
    }
};

}  // namespace

TEST_F(PlateInTheWindow, TheMenuSetsAndClearsThePlateAndTheBatchFileIsTheWindowsSave) {
    installSamples();
    QDir().mkpath(MyGlobal::outputDir);
    // A shot of a subject and its shadow, from a tripod nudged since the plate was shot.
    const QString shot = m_app.filePath("guest.png"), plate = m_app.filePath("empty.png");
    ASSERT_TRUE(plates::shotWithShadow({1.02, 1, 0.99}).save(shot));
    ASSERT_TRUE(plates::plate().save(plate));
    open();
    add({shot, plate});
    get<QSpinBox>("spinBox")->setValue(10);
    const int shotRow = fg->count() - 2, plateRow = fg->count() - 1;
    const QString plateTip = "Backdrop plate: Magic Number 10 keys the other shots against it";

    // Nothing is marked until the menu is used; then the plate's entry says so.
    ASSERT_NE(menuAction(plateRow, "No Backdrop Plate"), nullptr);
    EXPECT_FALSE(menuAction(plateRow, "No Backdrop Plate")->isEnabled());
    choose(shotRow);
    const QImage before = MyGlobal::PrevImg;
    while (window->pendingThumbnails() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QImage plainIcon = fg->item(plateRow)->icon().pixmap(74, 64).toImage();
    menuAction(plateRow, "Use as Backdrop Plate")->trigger();
    refreshed();
    EXPECT_TRUE(fg->item(plateRow)->toolTip().contains(plateTip));
    EXPECT_NE(fg->item(plateRow)->icon().pixmap(74, 64).toImage(), plainIcon) << "its mark";
    EXPECT_FALSE(fg->item(shotRow)->toolTip().contains(plateTip));
    EXPECT_FALSE(menuAction(plateRow, "Use as Backdrop Plate")->isEnabled());
    menuAction(shotRow, "Keep Shadows")->trigger();
    refreshed();
    EXPECT_TRUE(menuAction(shotRow, "Keep Shadows")->isChecked());

    // The shot keys against the plate, its shadow kept; "Save Image" writes what the batch
    // tool writes with the same settings.
    choose(shotRow);
    EXPECT_NEAR(qAlpha(MyGlobal::PrevImg.pixel(190, 120)), 102, 6) << "the shadow, 40%";
    EXPECT_EQ(MyGlobal::PrevImg.pixel(190, 120) & 0xffffffu, 0u) << "black";
    get("Run")->click();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    const QImage saved(MyGlobal::outputDir + "/guest.png");
    ASSERT_FALSE(saved.isNull());
    const QString out = m_app.filePath("batch");
    const BatchResult r =
        runBatchTool({"--magic", "10", "--plate", plate, "--keep-shadows", "--background",
                      MyGlobal::CurSelectionBk, "--output-dir", out, shot},
                     m_app.filePath("home"));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(QImage(out + "/guest.png") == saved) << "pixels differ";

    // Cleared, the shot keys as it did before the menu was opened.
    menuAction(shotRow, "No Backdrop Plate")->trigger();
    refreshed();
    EXPECT_FALSE(fg->item(plateRow)->toolTip().contains(plateTip));
    EXPECT_EQ(fg->item(plateRow)->icon().pixmap(74, 64).toImage(), plainIcon);
    choose(shotRow);
    EXPECT_EQ(MyGlobal::PrevImg, before);
}

TEST_F(PlateInTheWindow, APlateOfAnotherSizeIsNamedInTheShotsTooltipAndTheLog) {
    installSamples();
    const QString shot = m_app.filePath("guest.png"), plate = m_app.filePath("small.png");
    ASSERT_TRUE(plates::frame(plates::kGreen, 0, 0, {1, 1, 1}, 2).save(shot));
    ASSERT_TRUE(plates::plate().copy(0, 0, 200, 150).save(plate));
    open();
    add({shot, plate});
    get<QSpinBox>("spinBox")->setValue(10);
    menuAction(fg->count() - 1, "Use as Backdrop Plate")->trigger();
    refreshed();
    choose(fg->count() - 2);
    const QString tip = fg->item(fg->count() - 2)->toolTip();
    EXPECT_TRUE(tip.contains("Not keyed with the backdrop plate " + plate +
                             ": this shot is 320 x 240 pixels, the plate 200 x 150"))
        << tip.toStdString();
    EXPECT_TRUE(logText().contains(shot.toUtf8() + ": Not keyed with the backdrop plate"));
}
