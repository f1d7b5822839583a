// Refreshes of the preview made off the GUI thread: Save Image saves the newest, and the keyed
// foreground is reused while photo and keying settings stay.
#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QSpinBox>
#include <functional>

#include "keying/photoframe.h"
#include "ui/windowsettings.h"
#include "window_fixture.h"

namespace {

class Refresh : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makePhoto("1green.JPG", QSize(320, 240));
        makePhoto("blue1.JPG", QSize(240, 320));
        makePhoto("Bkg/a.png", QSize(400, 300), qRgb(200, 40, 30));
        makePhoto("Bkg/b.png", QSize(300, 500), qRgb(20, 40, 200));
        QDir().mkpath(MyGlobal::outputDir);
        open();
    }
    // The composite of the photos and settings the window shows now, made by the engine alone.
    QImage expected() const {
        QImage keyed = keying::turnPhoto(loadPhoto(MyGlobal::CurSelection),
                                         get<QComboBox>("Rotation")->currentText().toInt());
        keying::KeySettings k;
        k.magic = get<QSpinBox>("spinBox")->value();
        k.fine = get<QSpinBox>("fine")->value();
        k.spill = get<QSpinBox>("spill")->value();
        k.correctSpill = get<QCheckBox>("checkBox")->isChecked();
        k.backdrop = get<QAbstractButton>("radioBlue")->isChecked() ? keying::Backdrop::Blue
                                                                    : keying::Backdrop::Green;
        keying::keyTurnedPhoto(keyed, k);
        return compose::createComposite(
            compose::backgroundLayer(loadPhoto(MyGlobal::CurSelectionBk)), keyed,
            MyGlobal::xshiftFG, MyGlobal::yshiftFG, MyGlobal::transparentbkg, composeSettings());
    }
};

}  // namespace

TEST_F(Refresh, SaveDuringARefreshSavesTheNewestComposite) {
    const struct {
        const char* change;
        std::function<void()> act;
    } cases[] = {
        {"canvas", [&] { get("canv_fg_2")->click(); }},
        {"size", [&] { get<QSlider>("fg_size")->setValue(60); }},
        {"backdrop", [&] { get("radioBlue")->click(); }},
        {"background", [&] { click(bk, 1); }},
        {"foreground", [&] { click(fg, 1); }},
        {"transparent", [&] { get("transparentbkg")->click(); }},
    };
    const QString file = MyGlobal::outputDir + "/1green.png";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        refreshed();
        c.act();
        ASSERT_TRUE(window->refreshing());
        get("Run")->click();
        const QString saved =
            MyGlobal::outputDir + "/" + QFileInfo(MyGlobal::CurSelection).baseName() + ".png";
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
        EXPECT_EQ(QImage(saved).convertToFormat(QImage::Format_ARGB32),
                  expected().convertToFormat(QImage::Format_ARGB32));
    }
    EXPECT_TRUE(QFileInfo::exists(file));
}

TEST_F(Refresh, OnlyAChangeOfPhotoOrKeyingSettingsKeysAgain) {
    const auto press = [&](const char* button) { return [&, button] { get(button)->click(); }; };
    const auto tune = [&](const char* spin, int value) {
        return [&, spin, value] {
            get<QSpinBox>(spin)->setValue(value);
            get("refreshPreview")->click();
        };
    };
    const auto drag = [&](QPoint to) {
        return [&, to] {
            mouse(view, QEvent::MouseButtonPress, {100, 100});
            if (to != QPoint(100, 100))
                mouse(view, QEvent::MouseMove, to);
            mouse(view, QEvent::MouseButtonRelease, to);
        };
    };
    const struct {
        const char* change;
        std::function<void()> act;
        int keyings;
    } cases[] = {
        {"press and release in the preview", drag({100, 100}), 0},
        {"a drag", drag({120, 90}), 0},
        {"background click", [&] { click(bk, 1); }, 0},
        {"alignment", press("bg_align00"), 0},
        {"scaling", press("bg_actualSize"), 0},
        {"canvas", press("canv_fg_2"), 0},
        {"size", [&] { get<QSlider>("fg_size")->setValue(70); }, 0},
        {"transparency", press("transparentbkg"), 0},
        {"the current foreground again", [&] { click(fg, 0); }, 0},
        {"refresh unchanged", press("refreshPreview"), 0},
        {"Magic Number", tune("spinBox", 4), 1},
        {"fine tuning", tune("fine", 30), 1},
        {"spill", tune("spill", 20), 1},
        {"spill correction", press("checkBox"), 1},
        {"backdrop colour", press("radioBlue"), 1},
        {"rotation", [&] { get<QComboBox>("Rotation")->setCurrentIndex(1); }, 1},
        {"another foreground", [&] { click(fg, 1); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        refreshed();
        const int before = RefreshWorker::keyingRuns();
        c.act();
        refreshed();
        EXPECT_EQ(RefreshWorker::keyingRuns() - before, c.keyings);
        EXPECT_EQ(MyGlobal::ComposImg, expected());
    }
}
