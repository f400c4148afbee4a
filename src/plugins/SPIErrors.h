#pragma once

#include "base/Errors.h"

#include <QString>

// The errors of the plug-in manager.

// A plug-in library that cannot be loaded.
class ESPIFOpenErrorSPI : public ETrazbitError
{
public:
    explicit ESPIFOpenErrorSPI(const QString &path)
        : ETrazbitError(path + QStringLiteral(":Susie Pluginがロードできませんでした"))
    {
    }
};

// A required or called entry point that the plug-in lacks.
class ESPIInvalidAPI : public ETrazbitError
{
public:
    ESPIInvalidAPI(const QString &entryPoint, const QString &pluginPath)
        : ETrazbitError(entryPoint + QStringLiteral("は[") + pluginPath
                        + QStringLiteral("]では使えないSusie Plugin APIです"))
    {
    }
};

// A second plug-in manager while one exists.
class ESPIDupCreateSPIs : public ETrazbitError
{
public:
    ESPIDupCreateSPIs() : ETrazbitError(QStringLiteral("TSPIs は複数生成できません")) {}
};
