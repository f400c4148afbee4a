#include "app/TrazbitApplication.h"

#include "app/ErrorReport.h"
#include "app/MissingQtTexts.h"
#include "dialogs/ProgramIcon.h"

#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <exception>

TTrazbitApplication::TTrazbitApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Trazbit"));
    setWindowIcon(ProgramIcon());
    LoadQtTranslation();
    UseJapaneseFont();
}

void TTrazbitApplication::LoadQtTranslation()
{
    // Japanese whatever the user's locale: every text of the program is.
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    const QStringList folders{QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                              applicationDirPath() + QStringLiteral("/translations")};
    auto *translator = new QTranslator(this);
    for (const QString &folder : folders) {
        if (translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            // The translator installed last is asked first.
            installTranslator(new TMissingQtTexts(this));
            installTranslator(translator);
            FQtTranslationFile = translator->filePath();
            return;
        }
    }
    delete translator;
}

void TTrazbitApplication::UseJapaneseFont()
{
    // A font whose half-width katakana take their sound marks without a gap
    // ("ﾃﾞｰﾀ", "ﾍﾙﾌﾟ"); the captions and menus are full of them. Where it is
    // missing the platform's own font stays. (Under a Japanese locale the
    // database knows the font by its Japanese name only once it is filled:
    // the first family lookup would miss it.)
    QFontDatabase::families();
    for (const QString &family : {QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic")}) {
        if (QFontDatabase::hasFamily(family)) {
            QFont japanese(family);
            japanese.setPointSizeF(font().pointSizeF());
            setFont(japanese);
            return;
        }
    }
}

bool TTrazbitApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        ReportException(error);
    } catch (...) {
        ReportError(QStringLiteral("予期しないエラーが発生しました。"));
    }
    return false;
}
