#pragma once

// Text that comes as bytes from another program (the clipboard, a drop, a file another device
// wrote) becomes a QString here, every character kept.

#include <QByteArrayView>
#include <QString>

namespace QuillomareCore::Text {

// UTF-8 as it stands. QString::fromUtf8() takes a leading U+FEFF for a byte-order mark and drops
// it; here it stays, as it was copied (it is part of the text and of its content hash). Malformed
// bytes become U+FFFD, as there.
QString fromUtf8(QByteArrayView bytes);

} // namespace QuillomareCore::Text
