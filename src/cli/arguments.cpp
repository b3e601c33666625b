#include "cli/arguments.h"

#include "core/rules.h"
#include "platform/names.h"

#include <cerrno>
#include <cstdio>
#include <string_view>

namespace sorvel::cli {

Code readFileList(const QString& source, bool nul, std::vector<QString>& paths) {
    const bool standardInput = source == QStringLiteral("-");
    std::FILE* in = standardInput ? stdin : std::fopen(platform::encodeName(source), "rb");
    if (in == nullptr)
        return codeFromErrno(errno);
    std::string text;
    char buffer[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        text.append(buffer, n);
    const Code c = std::ferror(in) != 0 ? codeFromErrno(errno) : code::kOk;
    if (!standardInput)
        std::fclose(in);
    const char separator = nul ? '\0' : '\n';
    const std::string_view all(text);
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = std::min(all.find(separator, at), all.size());
        if (end > at)
            paths.push_back(platform::decodeName(all.substr(at, end - at)));
        at = end + 1;
    }
    return c;
}

std::optional<QString> genreOf(const QString& value) {
    if (value.isEmpty())
        return QString();
    bool number = false;
    const int n = value.toInt(&number);
    if (number && value.front().isDigit())
        return core::tal_genre(n).isEmpty() ? std::nullopt : std::optional(core::tal_genre(n));
    for (int g = 0; g < core::kGenreCount; ++g) {
        if (core::tal_genre(g).compare(value, Qt::CaseInsensitive) == 0)
            return core::tal_genre(g);
    }
    return std::nullopt;
}

std::string genreTable() {
    std::string out;
    for (int g = 0; g < core::kGenreCount; ++g)
        out += std::to_string(g) + '\t' + core::tal_genre(g).toStdString() + '\n';
    return out;
}

}  // namespace sorvel::cli
