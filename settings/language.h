#ifndef LANGUAGE_H
#define LANGUAGE_H

#include <QString>

// The language the programs speak: Chinese (the default, every text as it
// has always been) or English (an English catalogue over the same texts).
// Files, MQTT payloads, config.ini keys and option names never change.
namespace language {

enum class Language { Chinese, English };

// "zh_CN" or "en"; false with a message naming the accepted ones.
bool parse(const QString &text, Language *out, QString *error);
QString code(Language language);
// [UI] Language= of a config.ini; Chinese when it is not set. False with the
// reason (file and value named) for a value that is not accepted.
bool fromConfig(const QString &iniPath, Language *out, QString *error);

// Installs the program's catalogue of a language and Qt's own catalogue of
// it, taking away those installed before (English also takes away the
// catalogues parented to the application: the window's Chinese ones).
// Chinese installs none here (the window's start-up installs its Chinese
// catalogues as it always has).
void install(Language language);
Language current();

// The value of --lang, typed: false with the reason (the caller refuses it).
bool parseOption(const QString &value, Language *out, QString *error);

// --lang for a command-line program: installs the language it names, or says
// why not on stderr (with the program's name) and returns false.
bool installFromOption(const QString &program, const QString &value);

} // namespace language

#endif // LANGUAGE_H
