#ifndef STARTUP_H
#define STARTUP_H

#include "settings/language.h"

#include <QString>

class MainWindow;

// Everything start-up does once the window is built and before it is shown:
// the application font, the UTF-8 locale codec, the two translation
// catalogues, the random seed and the title with the host's address.
void applyStartupSettings(MainWindow &window);

// A language chosen while running (station mode's menu): its catalogues
// installed (the two Chinese ones for Chinese, as at start-up), the title
// again, and the choice kept in config.ini ([UI] Language). False with the
// reason when config.ini could not keep it (the switch happened anyway).
bool switchLanguage(MainWindow &window, language::Language language, QString *error);

#endif // STARTUP_H
