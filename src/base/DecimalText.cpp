#include "base/DecimalText.h"

#include <QLocale>
#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

std::optional<double> ParseDecimal(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString trimmed = text.trimmed();
    if (!pattern.match(trimmed).hasMatch())
        return std::nullopt;
    std::string s = trimmed.toStdString();
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        s.erase(0, 1);
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<float> ParseFloat(const QString &text)
{
    const std::optional<double> value = ParseDecimal(text);
    if (!value)
        return std::nullopt;
    const float f = static_cast<float>(*value);
    if (!std::isfinite(f))
        return std::nullopt;
    return f;
}

std::optional<int> ParseInteger(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?\\d+$"));
    const QString trimmed = text.trimmed();
    if (!pattern.match(trimmed).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong value = trimmed.toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

QString FormatFixed(double value, int digits)
{
    return QString::asprintf("%.*f", digits, value);
}

QString FormatFixed5(double value)
{
    return FormatFixed(value, 5);
}

QString FormatThousands(qint64 value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(value);
}
