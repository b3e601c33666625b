#include "app/resources.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QtGlobal>

// Outside every namespace: the macro declares the registering function where it stands.
static void registerSorvelResources() {
    Q_INIT_RESOURCE(sorvel);
}

namespace sorvel::app {

void initResources() {
    static const bool registered = (registerSorvelResources(), true);
    (void)registered;
}

void installQtTexts() {
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(QLocale(QLocale::Swedish, QLocale::Sweden), QStringLiteral("qt"),
                 QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    }
}

}  // namespace sorvel::app
