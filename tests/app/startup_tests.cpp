// Start-up: the shared log, opened only where it cannot be turned against the user's files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/startup.h"
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
