#pragma once

#include <QByteArray>
#include <QString>

// File names as the file system gives them: bytes, usually but not always
// UTF-8 (names copied from older systems may hold Latin-1 bytes). A name is
// carried as a QString in which every byte that is not part of valid UTF-8
// stands as one code unit U+DC80 to U+DCFF, which valid text never decodes to,
// so encoding the name gives back exactly the bytes it was listed with.
namespace FileName {

QString decode(QByteArrayView bytes);
QByteArray encode(QStringView name);
// A name for a file that goes with `name` (its log): `name` followed by
// `ending`, within 255 bytes. What must go is taken from the part before the
// extension, cut before a UTF-8 character; a number mark " (2)" at the end of
// that part is kept, so the companions of numbered files stay numbered too.
QByteArray withEnding(const QByteArray& name, const QByteArray& ending);

// The name for the eye: each byte that is not UTF-8 shown as a replacement mark.
QString forDisplay(QString name);

} // namespace FileName
