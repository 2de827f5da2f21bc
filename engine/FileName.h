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
// The name for the eye: each byte that is not UTF-8 shown as a replacement mark.
QString forDisplay(QString name);

} // namespace FileName
