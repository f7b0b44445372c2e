#ifndef PAGEFONT_H
#define PAGEFONT_H

#include <QByteArray>
#include <QFont>

// Fonts for drawn pages (reports, pack sheets) and the PDF they end in.
namespace pages {

// Sized in device pixels, so that a chart laid out for a page is drawn the
// same on a PDF writer's resolution as on an image's. Latin letters and
// digits from a Latin family, Han from a CJK one: each run of text in one
// family, whose glyphs the PDF's text layer maps back to what was drawn.
QFont pageFont(double pixels, bool bold = false);

// The text layer of a PDF written by Qt, mended in place: a CJK font gives
// one glyph to an ideograph and to its Kangxi radical (工 U+5DE5 and ⼯
// U+2F2F), and the writer names the glyph by the lower code point, so a
// copy or search of "工位" finds "⼯位". Each radical the text layer names
// becomes the ideograph it stands for (its compatibility form), in the same
// number of bytes (a Kangxi radical by its compatibility form, one of the
// radicals supplement by Unicode's equivalent ideograph). Nothing else in
// the file changes.
QByteArray mendTextLayer(QByteArray pdf);

} // namespace pages

#endif
