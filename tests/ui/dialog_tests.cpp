// The main window as built at start-up.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "compose/window/gview.h"
#include "dialog_fixture.h"
#include "ui/dialog.h"

namespace {

template <class T = QWidget>
T* child(const Dialog& w, const char* name) {
    T* found = w.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QStringList texts(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
}

}  // namespace

TEST_F(WindowTest, TitleCarriesTheVersionUntilALanguageChange) {
    Dialog w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Mattora pro 3.0"));
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&w, &change);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Mattora"));
}

TEST_F(WindowTest, OnlyTheTwoSettingsTabsShowAndHiddenControlsStayHidden) {
    Dialog w;
    auto* tabs = child<QTabWidget>(w, "tabWidget");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("BackGround Settings"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Canvas Size"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_TRUE(child(w, "Presets")->isHidden());
    EXPECT_TRUE(child(w, "coarse")->isHidden());
    EXPECT_TRUE(child(w, "label_11")->isHidden());
    // The removed page keeps its controls and their values.
    EXPECT_EQ(child<QComboBox>(w, "Rotation")->currentText(), QStringLiteral("0"));
    EXPECT_EQ(child<QComboBox>(w, "Rotation")->count(), 4);
    EXPECT_EQ(child<QSlider>(w, "fg_size")->value(), 100);
}

TEST_F(WindowTest, SaveImageIsTheDefaultButtonAndInitialSettingsAreChecked) {
    Dialog w;
    EXPECT_TRUE(child<QPushButton>(w, "Run")->isDefault());
    EXPECT_FALSE(child<QPushButton>(w, "Help")->autoDefault());
    for (const char* name : {"radioGreen", "bg_align11", "bg_scaletoFG", "canv_fg"})
        EXPECT_TRUE(child<QAbstractButton>(w, name)->isChecked()) << name;
    for (const char* name :
         {"radioBlue", "bg_align00", "bg_actualSize", "canv_fg_2", "checkBox", "transparentbkg"})
        EXPECT_FALSE(child<QAbstractButton>(w, name)->isChecked()) << name;
    EXPECT_EQ(child<QSpinBox>(w, "spinBox")->value(), 9);
    EXPECT_EQ(child<QSpinBox>(w, "spinBox")->minimum(), 1);
    EXPECT_EQ(child<QSpinBox>(w, "spinBox")->maximum(), 10);
    EXPECT_EQ(child<QSpinBox>(w, "spill")->maximum(), 40);
    EXPECT_EQ(child<QSpinBox>(w, "fine")->minimum(), -100);
}

TEST_F(WindowTest, BackgroundFolderListsJpgAndPngByNameIgnoringCase) {
    ASSERT_TRUE(QDir(m_app.path()).mkdir("Bkg"));
    for (const char* name : {"b.PNG", "a.jpg", "c.jpeg", "d.bmp"})
        touch(m_app.filePath(QStringLiteral("Bkg/") + name));
    Dialog w;
    const QString bkg = QDir(m_app.filePath("Bkg")).absolutePath();
    auto* list = child<QListWidget>(w, "listWidget_Bk");
    EXPECT_EQ(texts(list), (QStringList{bkg + "/a.jpg", bkg + "/b.PNG"}));
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(MyGlobal::CurSelectionBk, bkg + "/a.jpg");
}

TEST_F(WindowTest, MissingSamplesAreStillListedAndNothingBreaks) {
    Dialog w;
    auto* list = child<QListWidget>(w, "listWidget");
    EXPECT_EQ(texts(list),
              (QStringList{m_app.path() + "/1green.JPG", m_app.path() + "/blue1.JPG"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.pendingThumbnails() == 0; }));
    EXPECT_TRUE(list->item(0)->icon().isNull());
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(MyGlobal::CurSelection, m_app.path() + "/1green.JPG");
    EXPECT_EQ(child<QListWidget>(w, "listWidget_Bk")->count(), 0);
    EXPECT_TRUE(MyGlobal::CurSelectionBk.isEmpty());
    EXPECT_TRUE(MyGlobal::PrevImg.isNull());
}

TEST_F(WindowTest, StartsWithTheFirstSampleKeyedOverTheFirstBackground) {
    installSamples();
    Dialog w;
    EXPECT_EQ(child<QListWidget>(w, "listWidget")->count(), 2);
    EXPECT_GE(child<QListWidget>(w, "listWidget_Bk")->count(), 4);
    EXPECT_FALSE(child<QListWidget>(w, "listWidget")->item(0)->icon().isNull());

    // The rotation slot ran exactly once: one refresh, one release record.
    EXPECT_EQ(logText(), QByteArray(" release ev = 0, 0\n"));

    ASSERT_FALSE(MyGlobal::PrevImg.isNull());
    ASSERT_FALSE(MyGlobal::ComposImg.isNull());
    EXPECT_EQ(MyGlobal::ComposImg.size(), MyGlobal::PrevImg.size());
    EXPECT_EQ(qAlpha(MyGlobal::PrevImg.pixel(3, 3)), 0) << "the backdrop is keyed out";

    auto* view = child<QGraphicsView>(w, "graphicsView");
    ASSERT_NE(view->scene(), nullptr);
    const QList<QGraphicsItem*> items = view->scene()->items();
    ASSERT_EQ(items.size(), 1);
    const auto* pixmap = dynamic_cast<QGraphicsPixmapItem*>(items.first());
    ASSERT_NE(pixmap, nullptr);
    const QSize shown = pixmap->pixmap().size();
    EXPECT_TRUE(shown.width() == 415 || shown.height() == 345);
    EXPECT_LE(shown.width(), 415);
    EXPECT_LE(shown.height(), 345);
}

TEST_F(WindowTest, ClosingTheWindowEndsItsLoopWithZero) {
    Dialog w;
    w.show();
    QTimer::singleShot(0, &w, [&w] { w.close(); });
    EXPECT_EQ(w.exec(), 0);
    EXPECT_FALSE(w.isVisible());
}
