#include "fileops/fileops.h"

#include "platform/folders.h"
#include "platform/names.h"

namespace sorvel::fileops {

using platform::MessageBoxes;

namespace {

QString notFound() {
    return QStringLiteral("Filen hittades inte.");
}

}  // namespace

DeleteOutcome Recycle(platform::Trash& trash, const QString& FileName,
                      platform::Messages& messages) {
    if (trash.moveToTrash(FileName) == code::kOk)
        return DeleteOutcome::RemoveRow;
    messages.push_back(platform::error(QStringLiteral("Det gick inte att radera filen.")));
    return DeleteOutcome::Nothing;
}

DeleteOutcome mnuHogerRadera_Click(platform::FileSystem& fs, MessageBoxes& asker,
                                   platform::Trash& trash, const QString& katalog,
                                   const browse::Row* current, int ingenpapperskorg,
                                   platform::Messages& messages) {
    // Without a current row there is nothing to delete; the rescan shows what is there.
    if (current == nullptr)
        return DeleteOutcome::Rescan;
    const QString path = katalog + browse::fileName(*current);
    if (ingenpapperskorg != 1)
        return Recycle(trash, path, messages);

    const QString question = QStringLiteral("Är du säker på att du vill radera ") + u'"' +
                             platform::mp3Name(browse::shownName(*current)) + u'"' +
                             QStringLiteral(" ?");
    if (asker.show(QStringLiteral("Bekräfta borttagning av fil"), question,
                   MessageBoxes::Icon::None,
                   MessageBoxes::Buttons::OkCancel) != MessageBoxes::Answer::Ok) {
        return DeleteOutcome::Nothing;
    }
    const Code result = fs.remove(path);
    if (result == code::kOk)
        return DeleteOutcome::RemoveRow;
    if (result == code::kFileNotFound)
        messages.push_back(platform::error(notFound()));
    return DeleteOutcome::Rescan;
}

void ListView1_DblClick(platform::FileSystem& fs, platform::Opener& opener, const QString& katalog,
                        const browse::Row* current, platform::Messages& messages) {
    if (current == nullptr)
        return;
    const QString path = katalog + browse::fileName(*current);
    // A player started on a file that is gone would only show an error of its own, or nothing.
    if (!fs.exists(path)) {
        messages.push_back(platform::error(notFound()));
        return;
    }
    if (!opener.open(platform::absolutePath(path))) {
        messages.push_back(platform::error(QStringLiteral("Det gick inte att spela upp filen.")));
    }
}

}  // namespace sorvel::fileops
