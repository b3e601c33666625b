#pragma once

#include "platform/errors.h"

#include <QString>
#include <cstddef>
#include <string>
#include <vector>

namespace sorvel::cli {

/// Speaks English unless the locale that governs messages (LC_ALL, else LC_MESSAGES, else LANG)
/// is Swedish: installs the English translation of the program's Swedish texts. Needs the
/// application object.
void useUserLanguage();

/// A text of the core (a failure's reason, a rename's message), which is Swedish, in the user's
/// language.
QString coreText(const QString& swedish);

/// Why a file or folder could not be written (or renamed), in words.
QString writeReason(Code c);
/// Why a file or folder could not be read, in words.
QString readReason(Code c);

/// Messages on standard error, each on one line that begins "sorvel-cli: ", or with --json each
/// one JSON object.
class Report {
public:
    explicit Report(bool json) : json_(json) {}

    /// `path` as it was given, and why it was not handled.
    void file(const QString& path, const QString& why);
    /// Lines fileLine() made, each naming a file.
    void lines(const std::string& text);
    /// A message about no one file.
    void note(const QString& text);
    /// The line file() would print, for a caller that puts lines in an order of its own first.
    std::string fileLine(const QString& path, const QString& why) const;
    /// Whether a file or folder was named.
    bool failed() const { return failed_; }

private:
    bool json_;
    bool failed_ = false;
};

}  // namespace sorvel::cli
