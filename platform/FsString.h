#pragma once
// File-system bytes <-> wide strings. Names are decoded as UTF-8; every byte of an invalid
// sequence becomes U+DC80 + (byte - 0x80) and encodes back to that byte, so a name that is
// not valid UTF-8 (old cp1251 archives) still reaches its file after the round trip.
#include <QByteArray>
#include <QString>

namespace platform {

QString fromFsBytes(QByteArrayView bytes);
QByteArray toFsBytes(QStringView text);

// True when a decoded name holds bytes that are not UTF-8 (escapes of fromFsBytes).
bool hasForeignBytes(QStringView decoded);
// A decoded name or path as the user reads it: each '/'-separated component with bytes that
// are not UTF-8 is decoded with the conversion code page instead, so an old archive's cp1251
// name shows its Russian letters. For display only: operations keep the name's own bytes.
QString displayName(QStringView decoded);

} // namespace platform
