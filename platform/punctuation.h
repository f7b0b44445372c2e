#ifndef PUNCTUATION_H
#define PUNCTUATION_H

#include <QCoreApplication>
#include <QStringList>

// The punctuation of texts put together from pieces (a path and its reason,
// a list, a remark in brackets): full-width in Chinese, plain in English.
// At the bottom of the layers, so that every one can say things in both.
namespace punctuation {

inline QString reason(const QString &what, const QString &why)
{
    return QCoreApplication::translate("Punctuation", "%1：%2").arg(what, why);
}
inline QString colon() { return QCoreApplication::translate("Punctuation", "："); }
inline QString listed(const QStringList &items) { return items.join(QCoreApplication::translate("Punctuation", "、")); }
inline QString clauses(const QStringList &items) { return items.join(QCoreApplication::translate("Punctuation", "；")); }
inline QString aside(const QString &text) { return QCoreApplication::translate("Punctuation", "（%1）").arg(text); }

} // namespace punctuation

#endif // PUNCTUATION_H
