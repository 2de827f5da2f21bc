#pragma once

#include <QString>

// The tag values of one file as the tag reader gives them, whatever the
// format that held them. Every member has a default, so a list may give only
// the leading ones.
struct TagValues {
    QString artist = {};
    QString album = {};
    QString title = {};
    int track = 0;
    QString albumArtist = {};
    int disc = 0;      // 0 when the file has no disc number
    int discTotal = 0; // 0 when the tag does not say how many discs the set has
    bool compilation = false;
    QString date = {}; // the recording date as tagged: "2003", "2003-05-01", ...
    QString genre = {};
};
