#ifndef STARTUP_H
#define STARTUP_H

class MainWindow;

// Everything start-up does once the window is built and before it is shown:
// the application font, the UTF-8 locale codec, the two translation
// catalogues, the random seed and the title with the host's address.
void applyStartupSettings(MainWindow &window);

#endif // STARTUP_H
