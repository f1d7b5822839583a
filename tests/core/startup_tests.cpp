// Start-up: the shared log, the output and application folders, and the environment for the
// programs the window starts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "core/startup.h"
#include "qt_printers.h"
#include "support/files.h"

TEST(Log, OnlyTheUsersOwnPlainFileIsOpenedAndEmptiedAnythingElseIsLeftUntouched) {
    // What is at the log path: nothing, an earlier log, a symbolic link to a file, a dangling
    // one, a hard link, a folder, another user's file (as root only). `file` holds `after`.
    enum Kind { None, Earlier, Symlink, Dangling, HardLink, Folder, Foreign };
    const struct {
        Kind kind;
        const char* file;
        const char* after;
    } cases[] = {{None, "log.txt", ""},
                 {Earlier, "log.txt", ""},
                 {Symlink, "precious.txt", "keep me"},
                 {Dangling, "would-be.txt", "<none>"},
                 {HardLink, "precious.txt", "keep me"},
                 {Folder, "log.txt/x", "<none>"},
                 {Foreign, "log.txt", "someone else's log"}};
    for (const auto& c : cases) {
        if (c.kind == Foreign && ::geteuid() != 0)
            continue;
        QTemporaryDir tmp;
        const QString log = tmp.filePath("log.txt"), file = tmp.filePath(c.file);
        const QByteArray target = QFile::encodeName(file), path = QFile::encodeName(log);
        if (c.kind != None && c.kind != Dangling && c.kind != Folder)
            writeFile(file, c.kind == Earlier ? "an old record" : c.after);
        const bool made =
            ((c.kind != Symlink && c.kind != Dangling) || QFile::link(file, log)) &&
            (c.kind != HardLink || ::link(target.constData(), path.constData()) == 0) &&
            (c.kind != Folder || QDir(tmp.path()).mkdir("log.txt")) &&
            (c.kind != Foreign || ::chown(path.constData(), 65534, 65534) == 0);
        ASSERT_TRUE(made) << c.kind;
        QFile f(log);
        const bool opens = c.kind == None || c.kind == Earlier;
        EXPECT_EQ(startup::openLog(f), opens) << c.kind;
        EXPECT_EQ(f.isOpen(), opens) << c.kind;
        f.close();
        EXPECT_EQ(QFileInfo::exists(file) ? readFile(file) : QByteArray("<none>"), c.after);
        if (c.kind == None) {  // created private
            EXPECT_EQ(QFileInfo(log).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
        }
    }
}

TEST(OutputFolder, IsDocumentsVerdaluxMadeIfNeededElseDocuments) {
    QTemporaryDir home, other;
    const QDir h(home.path()), o(other.path());
    EXPECT_EQ(startup::outputFolder(home.path()), h.absoluteFilePath("Documents/Verdalux"));
    EXPECT_TRUE(QFileInfo(h.filePath("Documents/Verdalux")).isDir());
    writeFile(o.filePath("Documents/Verdalux"), "not a folder");
    EXPECT_EQ(startup::outputFolder(other.path()), o.absoluteFilePath("Documents"));
}

TEST(ApplicationFolder, IsTheFirstOfBinAndShareMattoraThatHoldsBkgElseBin) {
    const struct {
        QStringList folders;
        const char* expected;
    } cases[] = {{{"bin"}, "bin"},
                 {{"bin/Bkg"}, "bin"},
                 {{"bin", "share/mattora/Bkg"}, "share/mattora"},
                 {{"bin/Bkg", "share/mattora/Bkg"}, "bin"},
                 {{"bin", "share/mattora"}, "bin"}};
    for (const auto& c : cases) {
        QTemporaryDir prefix;
        for (const QString& folder : c.folders)
            ASSERT_TRUE(QDir(prefix.path()).mkpath(folder));
        EXPECT_EQ(startup::applicationFolder(prefix.filePath("bin")),
                  QDir(prefix.filePath(c.expected)).canonicalPath())
            << c.folders.join(", ").toStdString();
    }
}

TEST(ChildEnvironment, IsTheUsersWithoutWhatThisProcessSetForItself) {
    qunsetenv("QT_FONT_DPI");
    qputenv("MATTORA_TEST_VALUE", "the user's");
    startup::setOwnVariable("QT_FONT_DPI", "72");
    startup::setOwnVariable("MATTORA_TEST_VALUE", "ours");
    const QProcessEnvironment child = startup::childEnvironment();
    EXPECT_EQ(qgetenv("QT_FONT_DPI"), "72") << "ours stays";
    EXPECT_FALSE(child.contains("QT_FONT_DPI"));
    EXPECT_EQ(child.value("MATTORA_TEST_VALUE"), "the user's");
    // The huge-page setting of the restart at start-up is given back too.
    EXPECT_FALSE(qgetenv("GLIBC_TUNABLES").contains("hugetlb"));
}
