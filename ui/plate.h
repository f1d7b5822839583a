// The window's backdrop plate: the foreground entry the photographer marked as the empty
// backdrop, whether shadows are kept, and the menu of the foreground list that sets both.
#pragma once

#include <QImage>
#include <QString>
#include <functional>

#include "keying/keyer.h"
#include "keying/soft/plate_key.h"
#include "photo/photofile.h"

class QListWidget;
class QListWidgetItem;

class PlateChoice {
public:
    const QString& path() const { return m_path; }  // empty: no plate
    bool keepShadows() const { return m_keepShadows; }
    void setPath(const QString& path) { m_path = path; }
    void setKeepShadows(bool keep) { m_keepShadows = keep; }

    // Keys the turned shot with Magic Number 10, against the plate when one is chosen. Gives
    // what the photographer should know, naming the plate (and a plate of another size is an
    // error), or nothing when the plate was used or none is chosen; `notes` are the key's own.
    QString key(QImage& shot, keying::KeySettings s, int rotation, keying::KeyNotes* notes);

private:
    QString m_path;
    bool m_keepShadows = false;
    PhotoCache m_photo;   // the plate's file, read again when it changes
    qint64 m_source = 0;  // cacheKey of the photo the prepared plate was made from
    int m_rotation = 0;
    keying::BackdropPlate m_plate;
};

// Gives `list` the context menu "Use as Backdrop Plate", "No Backdrop Plate" and "Keep Shadows".
// Each choice marks the entries and then calls `changed`.
void attachPlateMenu(QListWidget* list, PlateChoice* choice, std::function<void()> changed);

// Puts the plate's mark and tooltip line, and a shot's note, back on an entry whose icon or
// tooltip was just set anew.
void remarkEntry(QListWidgetItem* item);

// Sets the note an entry's tooltip shows about the plate (empty: none).
void setPlateNote(QListWidgetItem* item, const QString& note);
