#pragma once

#include <QTranslator>

// The few texts of Qt's own windows that Qt's Japanese catalogue leaves in
// English (the type column of the file dialogs calls a folder "Folder"). Asked
// after the catalogue, so it only answers where that has no translation.
class TMissingQtTexts : public QTranslator
{
    Q_OBJECT

public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override;
    bool isEmpty() const override { return false; }
};
