#ifndef BOARD_TEXTS_H
#define BOARD_TEXTS_H

#include <QByteArray>

// The page's texts in both languages, from the programs' own catalogue (the
// Chinese source, the English translation), so the page's switch needs no
// second catalogue: {"zh_CN": {key: text}, "en": {key: text}}.
namespace board {

QByteArray textsJson();

} // namespace board

#endif // BOARD_TEXTS_H
