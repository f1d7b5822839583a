// The settings controls: what each stores and when the preview follows.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>

#include "dialog_fixture.h"
#include "ui/dialog.h"

namespace {

class SettingsTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makeBackground("Bkg/wide.png", QSize(400, 100), qRgb(200, 30, 30));
        // The first sample: a green studio shot with a subject, a yellow-green rim that only
        // spill correction changes, and a vivid green prop that only some keyers take out.
        QImage shot(160, 120, QImage::Format_RGB32);
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const int d = qAbs(x - 80) + qAbs(y - 60);
                QRgb c = d < 30   ? qRgb(150, 120, 110)
                         : d < 45 ? qRgb(150, 180, 90)
                                  : qRgb(40, 190 + (x % 7), 60);
                if (x >= 140 && y >= 100)
                    c = qRgb(0, 255, 0);
                shot.setPixel(x, y, c);
            }
        ASSERT_TRUE(shot.save(m_app.filePath("1green.JPG"), "PNG"));
        window = std::make_unique<Dialog>();
    }

    template <class T = QAbstractButton>
    T* get(const char* name) {
        return window->findChild<T*>(name);
    }

    std::unique_ptr<Dialog> window;
};

}  // namespace

TEST_F(SettingsTest, TuningAndMagicNumberWaitForTheNextRefresh) {
    const QImage keyed = MyGlobal::PrevImg;
    ASSERT_FALSE(keyed.isNull());
    const int records = releaseRecords();
    get<QSpinBox>("spinBox")->setValue(4);
    get<QSpinBox>("fine")->setValue(60);
    get<QSpinBox>("spill")->setValue(30);
    EXPECT_EQ(MyGlobal::PrevImg, keyed);
    EXPECT_EQ(releaseRecords(), records);

    get("refreshPreview")->click();
    EXPECT_EQ(releaseRecords(), records + 1);
    EXPECT_NE(MyGlobal::PrevImg, keyed) << "another keyer, another result";
}

TEST_F(SettingsTest, SpillCorrectionRefreshesAtOnce) {
    get<QSpinBox>("spill")->setValue(40);
    const QImage before = MyGlobal::PrevImg;
    const int records = releaseRecords();
    get("checkBox")->click();
    EXPECT_EQ(releaseRecords(), records + 1);
    EXPECT_NE(MyGlobal::PrevImg, before) << "the green rim is corrected";
}

TEST_F(SettingsTest, RadioButtonsStoreTheirValueAndRefreshOnEveryClick) {
    const int records = releaseRecords();
    get("radioBlue")->click();
    EXPECT_EQ(AdvSettings::backgroundclr, 1);
    get("radioGreen")->click();
    EXPECT_EQ(AdvSettings::backgroundclr, 0);
    get("radioGreen")->click();
    EXPECT_EQ(releaseRecords(), records + 3);

    get("bg_align00")->click();
    EXPECT_EQ(AdvSettings::bkpos, 0);
    get("bg_align11")->click();
    EXPECT_EQ(AdvSettings::bkpos, 1);
    get("bg_actualSize")->click();
    EXPECT_EQ(AdvSettings::bgScale, 0);
    get("bg_scaletoFG")->click();
    EXPECT_EQ(AdvSettings::bgScale, 1);
}

TEST_F(SettingsTest, CanvasFollowsTheChosenSideAtOnce) {
    get("bg_actualSize")->click();
    get("canv_fg_2")->click();
    EXPECT_EQ(AdvSettings::canvas, 1);
    EXPECT_EQ(MyGlobal::ComposImg.size(), QSize(400, 100)) << "the background's own size";
    get("canv_fg")->click();
    EXPECT_EQ(AdvSettings::canvas, 0);
    EXPECT_EQ(MyGlobal::ComposImg.size(), QSize(160, 120));
}

TEST_F(SettingsTest, TransparencyShowsTheKeyedForegroundAndEndsWithTheArrowCursor) {
    window->setCursor(Qt::CrossCursor);
    get<QCheckBox>("transparentbkg")->setChecked(true);
    EXPECT_TRUE(MyGlobal::transparentbkg);
    EXPECT_EQ(MyGlobal::ComposImg, MyGlobal::PrevImg);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
    get<QCheckBox>("transparentbkg")->setChecked(false);
    EXPECT_FALSE(MyGlobal::transparentbkg);
    EXPECT_EQ(qAlpha(MyGlobal::ComposImg.pixel(3, 3)), 255);
}

TEST_F(SettingsTest, SettingChangesKeepTheDraggedPosition) {
    MyGlobal::xshiftFG = 30;
    MyGlobal::yshiftFG = -5;
    get("bg_align00")->click();
    get("radioBlue")->click();
    EXPECT_EQ(MyGlobal::xshiftFG, 30);
    EXPECT_EQ(MyGlobal::yshiftFG, -5);
}

TEST_F(SettingsTest, DraggingTheSizeSliderRefreshesTwicePerStep) {
    auto* slider = get<QSlider>("fg_size");
    const int records = releaseRecords();
    slider->setSliderDown(true);
    slider->setSliderPosition(150);
    slider->setSliderPosition(50);
    slider->setSliderDown(false);
    EXPECT_EQ(AdvSettings::fgSize, 50);
    EXPECT_EQ(releaseRecords(), records + 4);
    EXPECT_EQ(MyGlobal::ComposImg.size(), QSize(80, 60));
}

TEST_F(SettingsTest, RotationTurnsTheReloadedPhotoEachTime) {
    auto* rotation = window->findChild<QComboBox*>("Rotation");
    rotation->setCurrentText("90");
    EXPECT_EQ(MyGlobal::PrevImg.size(), QSize(120, 160));
    rotation->setCurrentText("180");
    EXPECT_EQ(MyGlobal::PrevImg.size(), QSize(160, 120));
    rotation->setCurrentText("0");
    const QImage turnedBack = MyGlobal::PrevImg;
    window->UpdateScene();
    EXPECT_EQ(MyGlobal::PrevImg, turnedBack);
}
