// Shared set-up for tests that build the real main window offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/globals.h"

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
    }
    void TearDown() override { MyGlobal::log.close(); }

    // Copies the committed sample photos and backgrounds into the application folder.
    void installSamples() {
        const QString src = QStringLiteral(MATTORA_SOURCE_DIR) +
                            QStringLiteral("/resources/samples");
        for (const QString& name : {QStringLiteral("1green.JPG"), QStringLiteral("blue1.JPG")})
            ASSERT_TRUE(QFile::copy(src + "/" + name, m_app.filePath(name))) << name.toStdString();
        QDir().mkpath(m_app.filePath("Bkg"));
        const QDir bkg(src + "/Bkg");
        for (const QString& name : bkg.entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(bkg.filePath(name), m_app.filePath("Bkg/" + name)));
    }

    QByteArray logText() {
        MyGlobal::log.flush();
        QFile f(MyGlobal::log.fileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_app;
};
