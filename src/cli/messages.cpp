#include "cli/messages.h"

#include "cli/escape.h"
#include "core/rules.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sorvel::cli {
namespace {

// The core's words that reach the command line; listed here so that the translation has them,
// while the core keeps producing them unchanged for the window.
[[maybe_unused]] constexpr const char* kCoreWords[] = {
    QT_TRANSLATE_NOOP("sorvel-cli", "skrivskyddad eller låst"),
    QT_TRANSLATE_NOOP("sorvel-cli", "finns inte"),
    QT_TRANSLATE_NOOP("sorvel-cli", "tecken som en tagg inte kan lagra"),
    QT_TRANSLATE_NOOP("sorvel-cli", "disken är full"),
    QT_TRANSLATE_NOOP("sorvel-cli", "namnet är upptaget"),
    QT_TRANSLATE_NOOP("sorvel-cli", "ändrad sedan dess"),
    QT_TRANSLATE_NOOP("sorvel-cli", "ändrad sedan listan lästes"),
    QT_TRANSLATE_NOOP("sorvel-cli", "ingen MP3-fil"),
    QT_TRANSLATE_NOOP("sorvel-cli", "ogiltigt filnamn"),
    QT_TRANSLATE_NOOP("sorvel-cli", "läs- eller skrivfel på enheten"),
    QT_TRANSLATE_NOOP("sorvel-cli", "för många öppna filer"),
    QT_TRANSLATE_NOOP("sorvel-cli", "enheten går inte att komma åt"),
    QT_TRANSLATE_NOOP("sorvel-cli", "på en annan enhet"),
    QT_TRANSLATE_NOOP("sorvel-cli", "ingen vanlig fil"),
    QT_TRANSLATE_NOOP("sorvel-cli", "länken pekar inte på en MP3-fil"),
    QT_TRANSLATE_NOOP("sorvel-cli", "kanske skriven, inte bekräftad: "),
    QT_TRANSLATE_NOOP("sorvel-cli", "1 fil saknar ID3v2- och APEv2-tag och lämnades som den var."),
    QT_TRANSLATE_NOOP("sorvel-cli",
                      "%1 filer saknar ID3v2- och APEv2-tag och lämnades som de var."),
};

bool swedish() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return std::strncmp(value, "sv", 2) == 0;
    }
    return false;
}

// The reason the core gives, taken from the one place that words it.
QString coreReason(Code c) {
    QString text = write::failureText({core::Failure{QString(), c}}, QString(), 1);
    text = text.mid(text.indexOf(u'(') + 1);
    text.chop(1);
    return text;
}

}  // namespace

void useUserLanguage() {
    if (swedish())
        return;
    // Lives as long as the program; the translator is asked for every text.
    static QTranslator english;
    if (english.load(QStringLiteral(":/i18n/sorvel-cli_en.qm")))
        QCoreApplication::installTranslator(&english);
}

QString coreText(const QString& swedish) {
    const QByteArray source = swedish.toUtf8();
    return QCoreApplication::translate("sorvel-cli", source.constData());
}

QString writeReason(Code c) {
    return coreText(coreReason(c));
}

QString readReason(Code c) {
    // The core's word for this code speaks of writing.
    if (c == code::kAccess)
        return QCoreApplication::translate("sorvel-cli", "åtkomst nekad");
    return writeReason(c);
}

std::string Report::fileLine(const QString& path, const QString& why) const {
    std::string line;
    if (json_) {
        line = "{\"path\":";
        appendJson(line, path);
        line += ",\"error\":";
        appendJson(line, why);
        line += "}\n";
    } else {
        line = "sorvel-cli: ";
        appendText(line, path);
        line += ": ";
        appendText(line, why);
        line += '\n';
    }
    return line;
}

void Report::file(const QString& path, const QString& why) {
    failed_ = true;
    const std::string line = fileLine(path, why);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void Report::lines(const std::string& text) {
    failed_ = true;
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void Report::note(const QString& text) {
    std::string line;
    if (json_) {
        line = "{\"error\":";
        appendJson(line, text);
        line += "}\n";
    } else {
        line = "sorvel-cli: " + messageText(text) + '\n';
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace sorvel::cli
