// What a photo file says of itself besides its pixels: the camera's description of the shot and
// the colour space its numbers are in.
#pragma once

#include <QByteArray>
#include <QColorSpace>

// The camera's description of a shot, in EXIF's own ASCII (dates "YYYY:MM:DD HH:MM:SS").
struct CameraInfo {
    QByteArray make;
    QByteArray model;
    QByteArray dateTime;           // IFD0: when the file was last changed
    QByteArray dateTimeOriginal;   // when the shot was taken
    QByteArray dateTimeDigitized;  // when it was stored
    bool isEmpty() const {
        return make.isEmpty() && model.isEmpty() && dateTime.isEmpty() &&
               dateTimeOriginal.isEmpty() && dateTimeDigitized.isEmpty();
    }
};

struct PhotoMeta {
    CameraInfo camera;
    bool embedsProfile = false;  // the file carries an ICC profile (usable or not)
    // EXIF colour space "uncalibrated" with the interoperability index "R03": the cameras' way
    // of saying Adobe RGB without embedding the profile.
    bool exifAdobeRgb = false;
};

// Reads what `head`, the start of a JPEG, PNG or TIFF file, says. Nothing for other formats or
// for structures that run past `head`.
PhotoMeta readPhotoMeta(const QByteArray& head);

// Reads an EXIF block (a TIFF structure: "II" or "MM", 42, IFD0...) into `out`.
void readExif(const QByteArray& tiff, PhotoMeta* out);

// The colour space the photo's numbers are in: the profile the decoder made of the file's, else
// Adobe RGB for the EXIF convention, else sRGB, which is what an untagged photo means.
// `unusable` tells whether the file embeds a profile that could not be used (then sRGB).
QColorSpace declaredColorSpace(const QColorSpace& decoded, const PhotoMeta& meta, bool* unusable);
