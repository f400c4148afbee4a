#include "app/MissingQtTexts.h"

#include <cstring>

QString TMissingQtTexts::translate(const char *context, const char *sourceText,
                                   const char *, int) const
{
    static const struct
    {
        const char *Context;
        const char *Source;
        const char *Japanese;
    } kTexts[] = {
        {"QAbstractFileIconProvider", "Folder", "フォルダ"},
        {"QAbstractFileIconProvider", "Drive", "ドライブ"},
        {"QAbstractFileIconProvider", "File", "ファイル"},
        {"QAbstractFileIconProvider", "%1 File", "%1 ファイル"},
        {"QAbstractFileIconProvider", "Shortcut", "ショートカット"},
        {"QAbstractFileIconProvider", "Alias", "エイリアス"},
    };
    if (!context || !sourceText)
        return QString();
    for (const auto &text : kTexts) {
        if (std::strcmp(context, text.Context) == 0 && std::strcmp(sourceText, text.Source) == 0)
            return QString::fromUtf8(text.Japanese);
    }
    return QString();
}
