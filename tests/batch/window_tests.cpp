// The batch tool's file for a photo and settings is the file "Save Image" writes for them in
// the window: the real Dialog is driven offscreen, then the tool is run with the same settings.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QSlider>
#include <QSpinBox>

#include "batch_process.h"
#include "compose/window/gview.h"
#include "ui/dialog.h"
#include "ui/dialog_fixture.h"

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

void PrintTo(const Look& look, std::ostream* os) {
    *os << look.name;
}

class SameAsTheWindow : public WindowTest, public ::testing::WithParamInterface<Look> {
protected:
    template <class T = QAbstractButton>
    T* get(Dialog& w, const char* name) {
        T* widget = w.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    void choose(Dialog& w, const char* list, const QString& file) {
        auto* widget = get<QListWidget>(w, list);
        for (int row = 0; row < widget->count(); ++row)
            if (widget->item(row)->text() == file)
                emit widget->clicked(widget->model()->index(row, 0));
    }

    void dragBy(Dialog& w, QPoint by) {
        auto* view = get<Gview>(w, "graphicsView");
        const QPoint from(150, 150), to = from + by;
        QMouseEvent press(QEvent::MouseButtonPress, from, view->mapToGlobal(from), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, view->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, view->mapToGlobal(to), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        view->mousePressEvent(&press);
        view->mouseMoveEvent(&move);
        view->mouseReleaseEvent(&release);
    }

    // What "Save Image" writes after the photographer sets `look` in the window.
    QString saveInWindow(const Look& look) {
        Dialog w;
        choose(w, "listWidget", m_app.filePath(look.foreground));
        choose(w, "listWidget_Bk", m_app.filePath(look.background));
        get<QSpinBox>(w, "spinBox")->setValue(look.magic);
        get<QSpinBox>(w, "fine")->setValue(look.fine);
        get<QSpinBox>(w, "coarse")->setValue(look.coarse);
        get<QSpinBox>(w, "spill")->setValue(look.spill);
        get(w, look.blue ? "radioBlue" : "radioGreen")->click();
        if (look.correctSpill)
            get(w, "checkBox")->click();
        auto* rotation = get<QComboBox>(w, "Rotation");
        rotation->setCurrentIndex(rotation->findText(QString::number(look.rotation)));
        get(w, look.canvasBackground ? "canv_fg_2" : "canv_fg")->click();
        get(w, look.topLeft ? "bg_align00" : "bg_align11")->click();
        get(w, look.actualSize ? "bg_actualSize" : "bg_scaletoFG")->click();
        get<QSlider>(w, "fg_size")->setValue(look.fgSize);
        get<QCheckBox>(w, "transparentbkg")->setChecked(look.transparent);
        get(w, "refreshPreview")->click();
        if (!look.drag.isNull())
            dragBy(w, look.drag);
        get(w, "Run")->click();
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
        return MyGlobal::outputDir + "/" + QFileInfo(look.foreground).baseName() + ".png";
    }

    QStringList batchArguments(const Look& look, const QString& out) {
        QStringList args{
            "--magic",      QString::number(look.magic),
            "--fine",       QString::number(look.fine),
            "--coarse",     QString::number(look.coarse),
            "--spill",      QString::number(look.spill),
            "--rotation",   QString::number(look.rotation),
            "--canvas",     look.canvasBackground ? "background" : "foreground",
            "--align",      look.topLeft ? "top-left" : "center",
            "--bg-scale",   look.actualSize ? "actual" : "fit",
            "--fg-size",    QString::number(look.fgSize),
            "--offset",     QStringLiteral("%1,%2").arg(look.drag.x()).arg(look.drag.y()),
            "--output-dir", out};
        if (look.correctSpill)
            args << "--correct-spill";
        if (look.blue)
            args << "--blue";
        if (look.transparent)
            args << "--transparent";
        else
            args << "--background" << m_app.filePath(look.background);
        return args << m_app.filePath(look.foreground);
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
    l.name = name;
    l.foreground = foreground;
    l.background = background;
    tweak(l);
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Looks, SameAsTheWindow,
    ::testing::Values(look("Defaults", "1green.JPG", "Bkg/beach.JPG", [](Look&) {}),
                      look("RatioKeyerSmallOnTheBackgroundCanvas", "1green.JPG",
                           "Bkg/landscape.jpg",
                           [](Look& l) {
                               l.magic = 1, l.fine = 20, l.coarse = -10;
                               l.canvasBackground = true, l.topLeft = true, l.fgSize = 60;
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
