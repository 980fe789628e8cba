#pragma once

#include <QLocale>
#include <QTranslator>
#include <memory>
#include <vector>

// The window's texts in the user's language: the application's own translations (compiled into
// the program) and Qt's for its standard dialogs, installed for as long as this lives. A language
// without a translation file keeps the English texts.
class Translations {
  public:
    explicit Translations(const QLocale& locale);
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // Whether the application's own texts have a translation for the locale.
    bool hasApplicationTranslation() const { return hasApplicationTranslation_; }

  private:
    std::vector<std::unique_ptr<QTranslator>> installed_;
    bool hasApplicationTranslation_ = false;
};
