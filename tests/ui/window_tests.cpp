// The main window: the first preview, the settings controls and dragging in the preview.
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QSlider>
#include <QSpinBox>

#include "window_fixture.h"

namespace {

class Window : public WindowTest {
protected:
    QImage shown() const {
        const QList<QGraphicsItem*> items = view->scene()->items();
        const auto* item =
            items.size() == 1 ? dynamic_cast<QGraphicsPixmapItem*>(items[0]) : nullptr;
        return item ? item->pixmap().toImage().convertToFormat(QImage::Format_ARGB32) : QImage();
    }
    QImage composite(int x, int y) const {
        return createImageWithOverlay(
            QImage(MyGlobal::CurSelectionBk).convertToFormat(QImage::Format_ARGB32),
            MyGlobal::PrevImg, x, y, false);
    }
};

}  // namespace

TEST_F(Window, SettingsStoreTheirValueAndRefreshAtOnceButTuningWaits) {
    makePhoto("1green.JPG");
    makePhoto("Bkg/wide.png", QSize(400, 100), qRgb(200, 30, 30));
    open();
    const struct {
        const char* button;
        int* setting;
        int value;
    } cases[] = {{"radioBlue", &AdvSettings::backgroundclr, 1},
                 {"radioGreen", &AdvSettings::backgroundclr, 0},
                 {"bg_align00", &AdvSettings::bkpos, 0},
                 {"bg_align11", &AdvSettings::bkpos, 1},
                 {"bg_actualSize", &AdvSettings::bgScale, 0},
                 {"bg_scaletoFG", &AdvSettings::bgScale, 1},
                 {"canv_fg_2", &AdvSettings::canvas, 1},
                 {"canv_fg", &AdvSettings::canvas, 0}};
    MyGlobal::xshiftFG = 30;
    for (const auto& c : cases) {
        *c.setting = -1;
        const int records = releaseRecords();
        get(c.button)->click();
        EXPECT_EQ(*c.setting, c.value) << c.button;
        EXPECT_EQ(releaseRecords(), records + 1) << c.button;
        EXPECT_EQ(MyGlobal::xshiftFG, 30) << "the dragged position is kept";
    }
    const QImage keyed = MyGlobal::PrevImg;
    const int records = releaseRecords();
    get<QSpinBox>("spinBox")->setValue(4);
    get<QSpinBox>("fine")->setValue(60);
    refreshed();
    EXPECT_EQ(MyGlobal::PrevImg, keyed);
    EXPECT_EQ(releaseRecords(), records);
    get("refreshPreview")->click();
    get<QSpinBox>("spill")->setValue(30);
    get("checkBox")->click();
    EXPECT_EQ(releaseRecords(), records + 2) << "spill correction applies at once";

    auto* slider = get<QSlider>("fg_size");
    slider->setSliderDown(true);
    slider->setSliderPosition(150);
    slider->setSliderPosition(50);
    slider->setSliderDown(false);
    EXPECT_EQ(AdvSettings::fgSize, 50);
    EXPECT_EQ(releaseRecords(), records + 6) << "two refreshes a step";
}

TEST_F(Window, StartsWithTheFirstSampleKeyedThenDraggingMovesItByTheDistanceDragged) {
    installSamples();
    open();
    EXPECT_FALSE(fg->item(0)->icon().isNull());
    EXPECT_EQ(logText(), QByteArray(" release ev = 0, 0\n")) << "exactly one refresh";
    EXPECT_EQ(qAlpha(MyGlobal::PrevImg.pixel(3, 3)), 0) << "the backdrop is keyed out";
    EXPECT_EQ(MyGlobal::ComposImg, composite(0, 0));
    EXPECT_EQ(shown().size(), MyGlobal::ComposImg.size().scaled(415, 345, Qt::KeepAspectRatio));

    clearLog();
    mouse(view, QEvent::MouseButtonPress, {100, 100});
    mouse(view, QEvent::MouseMove, {115, 95});
    mouse(view, QEvent::MouseMove, {200, 200}, Qt::RightButton);
    mouse(view, QEvent::MouseMove, {160, 130});
    EXPECT_EQ(MyGlobal::xshiftFG, 0) << "offsets are committed on release only";
    EXPECT_EQ(shown(), composite(60, 30)
                           .scaled(415, 345, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                           .convertToFormat(QImage::Format_ARGB32));
    mouse(view, QEvent::MouseButtonRelease, {160, 130});
    refreshed();
    EXPECT_EQ(MyGlobal::xshiftFG, 60);
    EXPECT_EQ(MyGlobal::yshiftFG, 30);
    EXPECT_FALSE(MyGlobal::mouseMove);
    EXPECT_EQ(logText(), QByteArray("MouseMove : \n                 (x, y) 15, -5\n"
                                    "event (x,y) = (115,95)\np1 (x,y) = (100,100)\n"
                                    "MouseMove : \n                 (x, y) 60, 30\n"
                                    "event (x,y) = (160,130)\np1 (x,y) = (100,100)\n"
                                    " release ev = 160, 130\n"));
    window->UpdateScene();
    refreshed();
    EXPECT_EQ(MyGlobal::ComposImg, composite(60, 30));

    // A vanished background empties the preview: nothing shown, nothing stale to save.
    MyGlobal::CurSelectionBk = m_app.filePath("gone.jpg");
    window->UpdateScene();
    refreshed();
    EXPECT_TRUE(view->scene()->items().isEmpty());
    EXPECT_TRUE(MyGlobal::ComposImg.isNull());
}
