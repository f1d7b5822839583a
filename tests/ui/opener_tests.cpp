// The desktop's opener: started without waiting for it, and a user told where the file is when
// nothing on the desktop can show it.
#include <QTest>

#include "window_fixture.h"

namespace {

class Opener : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        resetDesktop();  // the real opener; failures still come to `warnings`
        desktop().warn = [this](QWidget*, const QString&, const QString& text) {
            warnings << text;
        };
        path = qgetenv("PATH");
    }
    void TearDown() override {
        qputenv("PATH", path);
        WindowTest::TearDown();
    }
    QByteArray path;
};

}  // namespace

TEST_F(Opener, IsNeverWaitedForAndAFailureSaysWhereThePathIs) {
    const QString marks = m_app.filePath("marks");
    QDir().mkpath(marks);
    // Each opener keeps running until the test lets it go (or three seconds pass), then ends
    // as its row says: an opener waited for would have ended before the call returned.
    const struct {
        const char* name;
        const char* exit;  // how the opener ends; none: there is no opener at all
        bool told;
    } cases[] = {
        {"shows it", "exit 0", false},
        {"no program for it", "exit 3", true},
        {"no opener", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        warnings.clear();
        QDir(marks).removeRecursively();
        QDir().mkpath(marks);
        const QString bin = m_app.filePath(QString("bin-") + c.name);
        QDir().mkpath(bin);
        if (c.exit)
            writeFile(bin + "/xdg-open",
                      QByteArray("#!/bin/sh\nfor i in $(seq 60); do [ -e \"$MARKS/go\" ] && break; "
                                 "sleep 0.05; done\ntouch \"$MARKS/ended\"\n") +
                          c.exit + "\n");
        QFile::setPermissions(bin + "/xdg-open", QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", (bin + (c.exit ? ":/usr/bin:/bin" : "")).toUtf8());
        qputenv("MARKS", marks.toUtf8());
        const QString photo = m_app.filePath("my shot.png");
        desktop().open(photo);
        EXPECT_FALSE(QFileInfo::exists(marks + "/ended")) << "returned before the opener ended";
        writeFile(marks + "/go", "");
        if (c.exit) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(marks + "/ended"); }, 5000));
        }
        // A failure is told once the opener has ended; a success never is.
        const bool told = QTest::qWaitFor([&] { return !warnings.isEmpty(); }, c.told ? 5000 : 300);
        EXPECT_EQ(told, c.told);
        ASSERT_EQ(warnings.size(), c.told ? 1 : 0);
        if (c.told) {
            EXPECT_TRUE(warnings[0].contains(photo)) << warnings[0].toStdString();
        }
    }
}

TEST_F(WindowTest, HelpOpensTheInstalledGuideOrSaysWhereItBelongs) {
    open();
    const QString guide = m_app.filePath("help/index.html");
    for (const bool installed : {false, true}) {
        SCOPED_TRACE(installed ? "installed" : "missing");
        if (installed)
            writeFile(guide, "<html></html>");
        opened.clear();
        warnings.clear();
        get("Help")->click();
        EXPECT_EQ(opened, installed ? QStringList{guide} : QStringList());
        ASSERT_EQ(warnings.size(), installed ? 0 : 1);
        if (!installed) {
            EXPECT_TRUE(warnings[0].contains(guide));
        }
    }
}
