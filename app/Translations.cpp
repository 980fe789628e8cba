#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

Translations::Translations(const QLocale& locale) {
    auto own = std::make_unique<QTranslator>();
    // Compiled-in translations: one lm-vuzadivirur_<language>.qm per .ts file in app/translations.
    if (own->load(locale, QStringLiteral("lm-vuzadivirur"), QStringLiteral("_"),
                  QStringLiteral(":/i18n")) &&
        QCoreApplication::installTranslator(own.get())) {
        hasApplicationTranslation_ = true;
        installed_.push_back(std::move(own));
    }
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(qt.get())) {
        installed_.push_back(std::move(qt));
    }
}

Translations::~Translations() {
    for (const auto& translator : installed_) QCoreApplication::removeTranslator(translator.get());
}
