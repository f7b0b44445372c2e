#ifndef DESKTOP_H
#define DESKTOP_H

#include <QString>

// The few places where the product's home desktop and this one differ.
class Desktop
{
public:
    // Lets the application font family resolve to an installed CJK face.
    static void installFontFallbacks();
    // Where the receive window's save dialog starts, for the given file name.
    static QString saveDialogStart(const QString &fileName);
    // The folder the console is saved into: the program's folder when it can
    // be written, the user's documents otherwise (an installed program).
    static QString consoleSaveFolder(const QString &applicationFolder);
};

#endif // DESKTOP_H
