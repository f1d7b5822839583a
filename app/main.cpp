#include <QApplication>
#include <QDir>
#include <QFont>

#include "app/globals.h"
#include "core/hugepages.h"
#include "core/startup.h"
#include "ui/dialog.h"

int main(int argc, char* argv[]) {
    preferHugePages(argv);
    // The form places its widgets at absolute pixel positions sized for 72-dpi points (one
    // point, one pixel); at other font resolutions its texts would overflow their widgets.
    const bool pointIsPixel = !qEnvironmentVariableIsSet("QT_FONT_DPI");
    if (pointIsPixel)
        startup::setOwnVariable("QT_FONT_DPI", "72");
    QApplication app(argc, argv);
    if (pointIsPixel) {
        // Keep the desktop's own dialogs (files, messages) at their usual 96-dpi text size.
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * 96.0 / 72.0);
        QApplication::setFont(font);
    }

    startup::openLog(MyGlobal::log);
    MyGlobal::appDir = startup::applicationFolder(QCoreApplication::applicationDirPath());
    MyGlobal::outputDir = startup::outputFolder(QDir::homePath());

    int result = 0;
    {
        Dialog window;
        window.show();
        window.openPhotos(QCoreApplication::arguments().mid(1));
        result = window.exec();
    }
    return result;
}
