#pragma once

#include <QString>
#include <string>

namespace sorvel::cli {

/// Appends a name or field as one tab-separated column of one line: UTF-8, with \\ \t \n \r for
/// the backslash, tab, newline and carriage return, \xHH for any other C0 control, DEL and each
/// byte of a file name that is not UTF-8, and \uHHHH for the C1 controls and the line and
/// paragraph separators, which some terminals and editors also act on.
void appendText(std::string& out, const QString& text);

/// Appends the same as a JSON string, quotes included: JSON's own escapes, and a file name's byte
/// that is not UTF-8 as the lone surrogate \uDCHH (U+DC00 + the byte), the form Python's
/// surrogateescape reads back into the very bytes.
void appendJson(std::string& out, const QString& text);

/// A message for standard error, whose file names appendText() has made safe already: escaped as
/// a column is, but with backslashes and newlines left as they are.
std::string messageText(const QString& text);

}  // namespace sorvel::cli
