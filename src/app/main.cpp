#include "app/MainWindow.h"
#include "app/TrazbitApplication.h"

#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    TTrazbitApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Trazbit"));
    parser.addHelpOption();
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Keep the options in FILE instead of the user's own settings."),
        QStringLiteral("FILE"));
    parser.addOption(settingsOption);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("A picture to open and convert at start."),
                                 QStringLiteral("[FILE]"));
    parser.process(app);

    TForm1 window(parser.value(settingsOption));
    window.show();
    if (!parser.positionalArguments().isEmpty())
        window.OpenAtStart(parser.positionalArguments().constFirst());
    return app.exec();
}
