#pragma once

// Shared pieces of the plug-in tests: the folder of the test plug-ins, what a
// plug-in recorded, and files of the test plug-ins' picture format.

#include "TestPluginState.h"

#include "image/DIBFormat.h"
#include "image/PictureFormats.h"
#include "plugins/SPI.h"
#include "plugins/SPIs.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

inline QString TestPluginFolder()
{
    return QDir::toNativeSeparators(QStringLiteral(TRAZBIT_TEST_PLUGIN_DIR "/"));
}

inline QString TestPlugin(const char *name)
{
    return TestPluginFolder() + QLatin1String(name) + QStringLiteral(".spi");
}

// What the loaded plug-in with this path recorded.
inline SpiTestState StateOf(const TSPIs &manager, const char *name)
{
    const int index = manager.IndexOf(TestPlugin(name));
    EXPECT_GE(index, 0) << name;
    if (index < 0)
        return SpiTestState{};
    const auto state = reinterpret_cast<SpiTestStateFn>(manager.Item(index).Resolve(SPI_TEST_STATE_ENTRY));
    EXPECT_TRUE(state) << name;
    return state ? *state() : SpiTestState{};
}

// A 40-byte info header followed by `colours` entries (blue, green, red, 0).
inline QByteArray InfoBlock(int width, int height, int bitCount, std::uint32_t clrUsed,
                            const QList<TRGBQuad> &colours = {})
{
    TBitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = std::uint16_t(bitCount);
    h.biClrUsed = clrUsed;
    QByteArray out(reinterpret_cast<const char *>(&h), sizeof h);
    for (const TRGBQuad &q : colours)
        out.append(reinterpret_cast<const char *>(&q), sizeof q);
    return out;
}

// A file of the test plug-ins' format (see TestPlugin.c).
struct TTestPicture
{
    QByteArray Info;
    QByteArray Bits;
    std::uint32_t Steps = 0;
    QByteArray Text;
    std::int32_t Result = 0;

    QByteArray Bytes() const
    {
        QByteArray out("TZSPITST");
        for (std::uint32_t v : {std::uint32_t(Info.size()), std::uint32_t(Bits.size()), Steps,
                                std::uint32_t(Text.size()), std::uint32_t(Result)}) {
            char le[4];
            qToLittleEndian(v, le);
            out.append(le, 4);
        }
        return out + Text + Info + Bits;
    }
};

// A folder for the test's files and, while the test runs, a Susie settings
// folder of its own (empty unless the test writes it).
class PluginTest : public ::testing::Test
{
protected:
    PluginTest()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, SettingsDir.path());
    }

    QString Write(const QString &name, const QByteArray &bytes)
    {
        const QString path = Dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // A manager that loaded the test plug-ins' folder.
    std::unique_ptr<TSPIs> LoadTestPlugins(TPictureFormats *formats = nullptr)
    {
        auto manager = std::make_unique<TSPIs>(formats);
        manager->Search(TestPluginFolder() + QStringLiteral("*.spi"));
        return manager;
    }

    QTemporaryDir Dir;
    QTemporaryDir SettingsDir;
};
