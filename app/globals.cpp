#include "app/globals.h"

#include "compose/composite.h"

namespace MyGlobal {
QString appDir;
QString outputDir;
QFile log(QStringLiteral("/tmp/log.txt"));
QString CurSelection;
QString CurSelectionBk;
QImage PrevImg;
QImage ComposImg;
int xshiftFG = 0;
int yshiftFG = 0;
bool mouseMove = false;
QPoint xyClicked(0, 0);
const QSize PrevSize = compose::kPreviewFrame;
bool transparentbkg = false;
QString HotFolder_FG;
QString LasHotFile;
QString overlayFile;
}  // namespace MyGlobal

namespace AdvSettings {
int backgroundclr = 0;
int bkpos = 1;
int bgScale = 1;
int fgSize = 100;
int canvas = 0;
bool bgFill = false;
}  // namespace AdvSettings
