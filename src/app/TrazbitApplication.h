#pragma once

#include <QApplication>

// The window program's application object. Its event dispatch is the last line
// of defence: an exception that leaves an event handler is shown by the
// top-level error report and the program goes on.
class TTrazbitApplication : public QApplication
{
    Q_OBJECT

public:
    TTrazbitApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Where Qt's own Japanese texts were found (the qtbase catalogue), or ""
    // when they were not: the file dialogs and message box buttons are then English.
    const QString &QtTranslationFile() const { return FQtTranslationFile; }

private:
    void LoadQtTranslation();
    void UseJapaneseFont();

    QString FQtTranslationFile;
};
