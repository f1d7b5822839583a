// Shared set-up for tests that build the real main window offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <memory>
#include <tuple>

#include "app/globals.h"
#include "compose/window/gview.h"
#include "qt_printers.h"
#include "support/files.h"
#include "support/photos.h"
#include "ui/desktop.h"
#include "ui/dialog.h"

// The shared state the tests change, as references; assigning to it sets every global at once.
inline auto sharedState() {
    namespace g = MyGlobal;
    namespace a = AdvSettings;
    return std::tie(g::CurSelection, g::CurSelectionBk, g::HotFolder_FG, g::LasHotFile, g::PrevImg,
                    g::ComposImg, g::xshiftFG, g::yshiftFG, g::mouseMove, g::transparentbkg,
                    g::xyClicked, a::backgroundclr, a::bkpos, a::bgScale, a::fgSize, a::canvas,
                    g::overlayFile, a::bgFill);
}
template <class... T>
std::tuple<T...> copied(const std::tuple<T&...>& refs) {
    return refs;
}

// The shared state as the program starts with it, taken before the first test runs: each test
// starts from these very values, so a wrong start value shows instead of being put right here.
struct SharedStart : ::testing::Environment {
    static auto& values() {
        static decltype(copied(sharedState())) start;
        return start;
    }
    static void restore() { sharedState() = values(); }
    void SetUp() override { values() = sharedState(); }
};
inline ::testing::Environment* const sharedStartTaker =
    ::testing::AddGlobalTestEnvironment(new SharedStart);

// Puts the shared state back to the program's start values, points the application folder and
// the log at temporary places and stands in for the desktop, so each test starts as a fresh run
// would.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_app.isValid());
        SharedStart::restore();
        MyGlobal::appDir = m_app.path();
        MyGlobal::outputDir = m_app.filePath("out");
        MyGlobal::log.close();
        MyGlobal::log.setFileName(m_app.filePath("log.txt"));
        ASSERT_TRUE(MyGlobal::log.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Desktop& d = desktop();
        d.chooseFiles = [this](QWidget*, const QString& caption, const QString& folder,
                               const QString& filter) {
            choosers << caption + "|" + folder + "|" + filter;
            return nextFiles;
        };
        d.chooseFolder = [this](QWidget*, const QString& caption, const QString& folder) {
            choosers << caption + "|" + folder;
            return nextFolder;
        };
        d.chooseSaveFile = [this](QWidget*, const QString& caption, const QString& folder,
                                  const QString&) {
            choosers << caption + "|" + folder;
            return nextFolder;
        };
        d.open = [this](const QString& path) { opened << path; };
        d.warn = [this](QWidget*, const QString&, const QString& text) { warnings << text; };
    }
    void TearDown() override {
        MyGlobal::log.close();
        resetDesktop();
    }

    QStringList nextFiles;  // what the file chooser returns
    QString nextFolder;     // what the folder chooser returns
    QStringList choosers;   // every chooser shown: caption|folder[|filter]
    QStringList opened;     // every path handed to the desktop's opener
    QStringList warnings;   // every failure told to the user

    void installSamples() {
        const QString src = QStringLiteral(MATTORA_SOURCE_DIR "/resources/samples/");
        QDir().mkpath(m_app.filePath("Bkg"));
        QStringList names{"1green.JPG", "blue1.JPG"};
        for (const QString& name : QDir(src + "Bkg").entryList(QDir::Files))
            names << "Bkg/" + name;
        for (const QString& name : names)
            ASSERT_TRUE(QFile::copy(src + name, m_app.filePath(name))) << name.toStdString();
    }

    // A studio shot, or a plain photo of `colour`, in the application folder.
    QString makePhoto(const QString& name, QSize size = QSize(160, 120), QRgb colour = 0) {
        const QString path = photos::saved(m_app.filePath(name), size, colour);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        return path;
    }

    // A left-button press, move or release at `at` in the preview, as a user's mouse sends it.
    static void mouse(Gview* view, QEvent::Type type, QPoint at,
                      Qt::MouseButtons buttons = Qt::LeftButton) {
        QMouseEvent e(type, QPointF(at), view->mapToGlobal(QPointF(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : buttons, Qt::NoModifier);
        type == QEvent::MouseButtonPress ? view->mousePressEvent(&e)
        : type == QEvent::MouseMove      ? view->mouseMoveEvent(&e)
                                         : view->mouseReleaseEvent(&e);
    }

    void clearLog() {
        MyGlobal::log.flush();
        MyGlobal::log.resize(0);
        MyGlobal::log.seek(0);
    }
    QByteArray logText() {
        MyGlobal::log.flush();
        return readFile(MyGlobal::log.fileName());
    }
    int releaseRecords() { return logText().count(" release ev = "); }

    template <class T = QAbstractButton>
    T* get(const char* name) const {
        return window->findChild<T*>(name);
    }
    void click(QListWidget* list, int row) { emit list->clicked(list->model()->index(row, 0)); }
    // The action named `text` of the context menu `owner` opens at `at`.
    static QAction* menuAction(QWidget* owner, QPoint at, const QString& text) {
        qDeleteAll(owner->findChildren<QMenu*>());  // the one opened before
        emit owner->customContextMenuRequested(at);
        for (QMenu* menu : owner->findChildren<QMenu*>())
            for (QAction* a : menu->actions())
                if (a->text() == text)
                    return a;
        return nullptr;
    }
    void add(const QStringList& files, const char* button = "AddForegGround") {
        nextFiles = files;
        get(button)->click();
    }
    // Opens the main window over the state set up so far, its first preview shown.
    void open() {
        window = std::make_unique<Dialog>();
        fg = window->findChild<QListWidget*>("listWidget");
        bk = window->findChild<QListWidget*>("listWidget_Bk");
        view = window->findChild<Gview*>("graphicsView");
        refreshed();
    }
    // Waits until the preview shows the newest refresh asked for.
    void refreshed() { window->waitForRefresh(); }

    QTemporaryDir m_app;
    std::unique_ptr<Dialog> window;  // closed before the application folder goes
    QListWidget *fg = nullptr, *bk = nullptr;
    Gview* view = nullptr;
};
