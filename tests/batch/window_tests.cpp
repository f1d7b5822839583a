// The batch tool's file for a photo and settings is the file "Save Image" writes for them in the
// window: the real Dialog is driven offscreen, then the tool is run with the same settings.
#include <QComboBox>
#include <QSlider>
#include <QSpinBox>

#include "batch_process.h"
#include "ui/window_fixture.h"

namespace {

struct Look {
    const char* name = "";
    const char* foreground = "";  // a sample photo
    const char* background = "";  // a sample background
    int magic = 9, fine = 0, coarse = 0, spill = 0;
    bool correctSpill = false, blue = false, transparent = false;
    int rotation = 0;
    bool canvasBackground = false, topLeft = false, actualSize = false;
    int fgSize = 100;
    QPoint drag;  // how far the subject is dragged in the preview
};

class SameAsTheWindow : public WindowTest, public ::testing::WithParamInterface<Look> {
protected:
    // What "Save Image" writes after the photographer sets `look` in the window.
    QString saveInWindow(const Look& l) {
        Dialog w;
        const auto get = [&w](const char* name) { return w.findChild<QAbstractButton*>(name); };
        for (const auto& [list, file] :
             {std::pair("listWidget", l.foreground), std::pair("listWidget_Bk", l.background)}) {
            auto* widget = w.findChild<QListWidget*>(list);
            for (int row = 0; row < widget->count(); ++row)
                if (widget->item(row)->text() == m_app.filePath(file))
                    emit widget->clicked(widget->model()->index(row, 0));
        }
        w.findChild<QSpinBox*>("spinBox")->setValue(l.magic);
        w.findChild<QSpinBox*>("fine")->setValue(l.fine);
        w.findChild<QSpinBox*>("coarse")->setValue(l.coarse);
        w.findChild<QSpinBox*>("spill")->setValue(l.spill);
        get(l.blue ? "radioBlue" : "radioGreen")->click();
        if (l.correctSpill)
            get("checkBox")->click();
        w.findChild<QComboBox*>("Rotation")->setCurrentText(QString::number(l.rotation));
        get(l.canvasBackground ? "canv_fg_2" : "canv_fg")->click();
        get(l.topLeft ? "bg_align00" : "bg_align11")->click();
        get(l.actualSize ? "bg_actualSize" : "bg_scaletoFG")->click();
        w.findChild<QSlider*>("fg_size")->setValue(l.fgSize);
        get("transparentbkg")->setChecked(l.transparent);
        get("refreshPreview")->click();
        if (!l.drag.isNull()) {
            view = w.findChild<Gview*>("graphicsView");
            const QPoint from(150, 150), to = from + l.drag;
            mouse(view, QEvent::MouseButtonPress, from);
            mouse(view, QEvent::MouseMove, to);
            mouse(view, QEvent::MouseButtonRelease, to);
        }
        get("Run")->click();
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
        return MyGlobal::outputDir + "/" + QFileInfo(l.foreground).baseName() + ".png";
    }

    QStringList batchArguments(const Look& l, const QString& out) {
        QStringList args{"--magic",      QString::number(l.magic),
                         "--fine",       QString::number(l.fine),
                         "--coarse",     QString::number(l.coarse),
                         "--spill",      QString::number(l.spill),
                         "--rotation",   QString::number(l.rotation),
                         "--canvas",     l.canvasBackground ? "background" : "foreground",
                         "--align",      l.topLeft ? "top-left" : "center",
                         "--bg-scale",   l.actualSize ? "actual" : "fit",
                         "--fg-size",    QString::number(l.fgSize),
                         "--offset",     QStringLiteral("%1,%2").arg(l.drag.x()).arg(l.drag.y()),
                         "--output-dir", out};
        if (l.correctSpill)
            args << "--correct-spill";
        if (l.blue)
            args << "--blue";
        if (l.transparent)
            args << "--transparent";
        else
            args << "--background" << m_app.filePath(l.background);
        return args << m_app.filePath(l.foreground);
    }
};

}  // namespace

TEST_P(SameAsTheWindow, TheBatchFileDecodesToTheWindowsSave) {
    installSamples();
    QDir().mkpath(MyGlobal::outputDir);
    const Look look = GetParam();
    const QImage saved(saveInWindow(look));
    ASSERT_FALSE(saved.isNull());
    const QString out = m_app.filePath("batch");
    const BatchResult r = runBatchTool(batchArguments(look, out), m_app.filePath("home"));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QImage batch(out + "/" + QFileInfo(look.foreground).baseName() + ".png");
    ASSERT_EQ(batch.format(), saved.format());
    ASSERT_EQ(batch.size(), saved.size());
    EXPECT_TRUE(batch == saved) << "pixels differ";
}

template <class Tweak>
Look look(const char* name, const char* foreground, const char* background, Tweak tweak) {
    Look l;
    l.name = name, l.foreground = foreground, l.background = background;
    tweak(l);
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Looks, SameAsTheWindow,
    ::testing::Values(look("Defaults", "1green.JPG", "Bkg/beach.JPG", [](Look&) {}),
                      look("RatioKeyerSmallOnTheBackgroundCanvas", "1green.JPG",
                           "Bkg/landscape.jpg",
                           [](Look& l) {
                               l.magic = 1, l.fine = 20, l.coarse = -10, l.fgSize = 60;
                               l.canvasBackground = true, l.topLeft = true;
                               l.drag = QPoint(37, -21);
                           }),
                      look("BlueBackdropTurnedWithSpillCorrection", "blue1.JPG",
                           "Bkg/studio_paper.png",
                           [](Look& l) {
                               l.magic = 6, l.spill = 12, l.correctSpill = true, l.blue = true;
                               l.rotation = 90, l.actualSize = true, l.drag = QPoint(-15, 9);
                           }),
                      look("EstimatedBackdropEnlargedAndDragged", "1green.JPG", "Bkg/interior.png",
                           [](Look& l) {
                               l.fine = -30, l.spill = 20, l.correctSpill = true;
                               l.rotation = 180, l.fgSize = 150, l.drag = QPoint(60, 40);
                           }),
                      look("TransparentTurned", "blue1.JPG", "Bkg/sky.jpg",
                           [](Look& l) {
                               l.magic = 4, l.fine = 10, l.blue = true, l.transparent = true;
                               l.rotation = 270;
                           })),
    [](const ::testing::TestParamInfo<Look>& info) { return std::string(info.param.name); });
