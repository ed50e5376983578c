#pragma once
// File-system bytes <-> wide strings. Names are decoded as UTF-8; every byte of an invalid
// sequence becomes U+DC80 + (byte - 0x80) and encodes back to that byte, so a name that is
// not valid UTF-8 (old cp1251 archives) still reaches its file after the round trip.
#include <QByteArray>
#include <QString>

namespace platform {

QString fromFsBytes(QByteArrayView bytes);
QByteArray toFsBytes(QStringView text);

} // namespace platform
