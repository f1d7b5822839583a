// Shared set-up for tests that build the real main window offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include "app/globals.h"
#include "qt_printers.h"
#include "ui/desktop.h"

// Puts the shared state back to its start values and points the application folder and the
// log at temporary places, so each test starts as a fresh run of the program would.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_app.isValid());
        MyGlobal::appDir = m_app.path();
        MyGlobal::outputDir = m_app.filePath("out");
        MyGlobal::CurSelection.clear();
        MyGlobal::CurSelectionBk.clear();
        MyGlobal::PrevImg = QImage();
        MyGlobal::ComposImg = QImage();
        MyGlobal::xshiftFG = MyGlobal::yshiftFG = 0;
        MyGlobal::mouseMove = false;
        MyGlobal::xyClicked = QPoint(0, 0);
        MyGlobal::transparentbkg = false;
        AdvSettings::backgroundclr = 0;
        AdvSettings::bkpos = 1;
        AdvSettings::bgScale = 1;
        AdvSettings::fgSize = 100;
        AdvSettings::canvas = 0;
        MyGlobal::log.close();
        MyGlobal::log.setFileName(m_app.filePath("log.txt"));
        ASSERT_TRUE(MyGlobal::log.open(QIODevice::WriteOnly | QIODevice::Truncate));
        MyGlobal::HotFolder_FG.clear();
        MyGlobal::LasHotFile.clear();

        // Stand in for the desktop: no real dialog, viewer or message box.
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

    // Copies the committed sample photos and backgrounds into the application folder.
    void installSamples() {
        const QString src =
            QStringLiteral(MATTORA_SOURCE_DIR) + QStringLiteral("/resources/samples");
        for (const QString& name : {QStringLiteral("1green.JPG"), QStringLiteral("blue1.JPG")})
            ASSERT_TRUE(QFile::copy(src + "/" + name, m_app.filePath(name))) << name.toStdString();
        QDir().mkpath(m_app.filePath("Bkg"));
        const QDir bkg(src + "/Bkg");
        for (const QString& name : bkg.entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(bkg.filePath(name), m_app.filePath("Bkg/" + name)));
    }

    // A small studio shot: green backdrop with a grey subject in the middle.
    QString makePhoto(const QString& name, QSize size = QSize(160, 120),
                      QRgb backdrop = qRgb(30, 200, 60)) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(backdrop);
        for (int y = size.height() / 4; y < size.height() * 3 / 4; ++y)
            for (int x = size.width() / 4; x < size.width() * 3 / 4; ++x)
                img.setPixel(x, y, qRgb(120, 110, 100));
        const QString path = m_app.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        EXPECT_TRUE(img.save(path)) << path.toStdString();
        return path;
    }

    // A plain-coloured background photo.
    QString makeBackground(const QString& name, QSize size, QRgb colour) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        const QString path = m_app.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        EXPECT_TRUE(img.save(path)) << path.toStdString();
        return path;
    }

    void clearLog() {
        MyGlobal::log.flush();
        MyGlobal::log.resize(0);
        MyGlobal::log.seek(0);
    }

    int releaseRecords() { return logText().count(" release ev = "); }

    QByteArray logText() {
        MyGlobal::log.flush();
        QFile f(MyGlobal::log.fileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_app;
};
