// The preview: pressing, dragging and releasing in the real window.
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>

#include "compose/window/gview.h"
#include "ui/dialog.h"
#include "ui/dialog_fixture.h"

namespace {

class PreviewTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        installSamples();
        window = std::make_unique<Dialog>();
        view = window->findChild<Gview*>(QStringLiteral("graphicsView"));
        ASSERT_NE(view, nullptr);
        clearLog();
    }

    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), view->mapToGlobal(QPointF(at)), button, buttons,
                      Qt::NoModifier);
        switch (type) {
            case QEvent::MouseButtonPress:
                view->mousePressEvent(&e);
                break;
            case QEvent::MouseMove:
                view->mouseMoveEvent(&e);
                break;
            default:
                view->mouseReleaseEvent(&e);
                break;
        }
    }
    void press(QPoint at) { send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton); }
    void drag(QPoint at, Qt::MouseButtons buttons = Qt::LeftButton) {
        send(QEvent::MouseMove, at, Qt::NoButton, buttons);
    }
    void release(QPoint at) { send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }

    QImage shown() const {
        const QList<QGraphicsItem*> items = view->scene()->items();
        EXPECT_EQ(items.size(), 1);
        const auto* item = items.isEmpty() ? nullptr : dynamic_cast<QGraphicsPixmapItem*>(items[0]);
        return item ? item->pixmap().toImage() : QImage();
    }

    QImage background() const {
        return QImage(MyGlobal::CurSelectionBk).convertToFormat(QImage::Format_ARGB32);
    }

    std::unique_ptr<Dialog> window;
    Gview* view = nullptr;
};

}  // namespace

TEST_F(PreviewTest, DragMovesTheForegroundByTheDistanceDragged) {
    press({100, 100});
    drag({115, 95});
    drag({130, 90});
    EXPECT_TRUE(MyGlobal::mouseMove);
    EXPECT_EQ(MyGlobal::xshiftFG, 0) << "offsets are committed on release only";
    release({130, 90});
    EXPECT_EQ(MyGlobal::xshiftFG, 30);
    EXPECT_EQ(MyGlobal::yshiftFG, -10);
    EXPECT_FALSE(MyGlobal::mouseMove);

    const QByteArray expected =
        "MouseMove : \n"
        "                 (x, y) 15, -5\n"
        "event (x,y) = (115,95)\n"
        "p1 (x,y) = (100,100)\n"
        "MouseMove : \n"
        "                 (x, y) 30, -10\n"
        "event (x,y) = (130,90)\n"
        "p1 (x,y) = (100,100)\n"
        " release ev = 130, 90\n";
    EXPECT_EQ(logText(), expected);

    // A second drag adds to the first.
    press({10, 10});
    drag({5, 30});
    release({5, 30});
    EXPECT_EQ(MyGlobal::xshiftFG, 25);
    EXPECT_EQ(MyGlobal::yshiftFG, 10);
}

TEST_F(PreviewTest, DragStepShowsTheTrialPositionAtExactlyThePreviewSize) {
    press({100, 100});
    drag({160, 130});
    const QImage step = shown();
    EXPECT_EQ(step.size(), QSize(415, 345));
    const QImage full = createImageWithOverlay(background(), MyGlobal::PrevImg, 60, 30, false);
    EXPECT_EQ(step.convertToFormat(QImage::Format_ARGB32),
              full.scaled(415, 345, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                  .convertToFormat(QImage::Format_ARGB32));
}

TEST_F(PreviewTest, OnlyALeftButtonDragMoves) {
    press({100, 100});
    drag({200, 200}, Qt::RightButton);
    drag({200, 200}, Qt::LeftButton | Qt::RightButton);
    EXPECT_FALSE(MyGlobal::mouseMove);
    release({200, 200});
    EXPECT_EQ(MyGlobal::xshiftFG, 0);
    EXPECT_EQ(MyGlobal::yshiftFG, 0);
    EXPECT_EQ(logText(), QByteArray(" release ev = 200, 200\n"));
}

TEST_F(PreviewTest, PlainClickReKeysAndKeepsTheOffsets) {
    MyGlobal::xshiftFG = 12;
    MyGlobal::yshiftFG = -7;
    MyGlobal::PrevImg = QImage();
    press({120, 45});
    EXPECT_EQ(MyGlobal::xyClicked, QPoint(120, 45));
    EXPECT_FALSE(MyGlobal::PrevImg.isNull()) << "the press keys the foreground again";
    release({120, 45});
    EXPECT_EQ(MyGlobal::xshiftFG, 12);
    EXPECT_EQ(MyGlobal::yshiftFG, -7);
    EXPECT_EQ(logText(), QByteArray(" release ev = 120, 45\n"));
}

TEST_F(PreviewTest, RefreshComposesAtTheCommittedOffsetsWithProportionsKept) {
    MyGlobal::xshiftFG = 50;
    MyGlobal::yshiftFG = 20;
    window->UpdateScene();
    EXPECT_EQ(MyGlobal::xyClicked, QPoint(0, 0));
    const QImage full = createImageWithOverlay(background(), MyGlobal::PrevImg, 50, 20, false);
    EXPECT_EQ(MyGlobal::ComposImg, full);
    EXPECT_EQ(shown().size(), full.size().scaled(415, 345, Qt::KeepAspectRatio));
    EXPECT_EQ(logText(), QByteArray(" release ev = 0, 0\n"));
}

TEST_F(PreviewTest, TransparentPreviewShowsTheKeyedForegroundAlone) {
    MyGlobal::transparentbkg = true;
    window->UpdateScene();
    EXPECT_EQ(MyGlobal::ComposImg, MyGlobal::PrevImg);
    EXPECT_EQ(qAlpha(MyGlobal::ComposImg.pixel(3, 3)), 0);
}

TEST_F(PreviewTest, EveryRefreshShowsANewSceneAndDeletesTheOldOne) {
    QPointer<QGraphicsScene> before = view->scene();
    ASSERT_FALSE(before.isNull());
    window->UpdateScene();
    EXPECT_TRUE(before.isNull());
    ASSERT_NE(view->scene(), nullptr);
    EXPECT_EQ(view->scene()->items().size(), 1);
}

TEST_F(PreviewTest, MissingBackgroundEmptiesThePreview) {
    window->UpdateScene();
    MyGlobal::CurSelectionBk = m_app.filePath("gone.jpg");
    window->UpdateScene();
    press({10, 10});
    drag({40, 40});
    release({40, 40});
    EXPECT_TRUE(view->scene()->items().isEmpty()) << "no stale composite on show";
    EXPECT_TRUE(MyGlobal::ComposImg.isNull()) << "nothing stale is left to save";
}

TEST_F(PreviewTest, ChangedBackgroundFileIsReadAgain) {
    window->UpdateScene();
    const QImage first = MyGlobal::ComposImg;
    // Same path, new contents and modification time.
    QImage other(640, 480, QImage::Format_RGB32);
    other.fill(qRgb(200, 10, 10));
    ASSERT_TRUE(other.save(MyGlobal::CurSelectionBk, "JPG"));
    QFile f(MyGlobal::CurSelectionBk);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
    f.close();
    window->UpdateScene();
    EXPECT_NE(MyGlobal::ComposImg, first);
    EXPECT_EQ(MyGlobal::ComposImg,
              createImageWithOverlay(background(), MyGlobal::PrevImg, 0, 0, false));
}
