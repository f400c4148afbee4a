#include "app/core/DecimalText.h"

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

namespace {

constexpr int kSignificant = 15;

// The first 15 significant digits of |value| rounded half away from zero, and the
// decimal exponent of the first digit (value = d.ddd... x 10^exponent).
void RoundToSignificant(long double magnitude, char digits[kSignificant], int &exponent)
{
    // Seventeen digits, correctly rounded, settle the sixteenth digit unless it
    // sits next to the rounding boundary; only then is the exact expansion needed.
    char buf[160];
    std::snprintf(buf, sizeof buf, "%.*Le", kSignificant + 1, magnitude);
    const char next = buf[kSignificant + 1];  // buf: d '.' d*16 'e' ...
    if (next == '4' || next == '5')
        std::snprintf(buf, sizeof buf, "%.*Le", 120, magnitude);
    std::memcpy(digits, buf, 1);
    std::memcpy(digits + 1, buf + 2, kSignificant - 1);
    exponent = std::atoi(std::strchr(buf, 'e') + 1);
    if (buf[kSignificant + 1] >= '5') {
        int i = kSignificant - 1;
        while (i >= 0 && digits[i] == '9')
            digits[i--] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = '1';
            ++exponent;
        }
    }
}

} // namespace

QString FormatGeneral(long double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0");

    char digits[kSignificant];
    int exponent = 0;
    RoundToSignificant(std::fabs(value), digits, exponent);
    int count = kSignificant;
    while (count > 1 && digits[count - 1] == '0')
        --count;

    std::string out;
    if (value < 0)
        out += '-';
    if (exponent >= kSignificant || exponent < -4) {
        out += digits[0];
        if (count > 1) {
            out += '.';
            out.append(digits + 1, count - 1);
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out.append(digits, count);
    } else {
        const int integerDigits = exponent + 1;
        if (count <= integerDigits) {
            out.append(digits, count);
            out.append(static_cast<size_t>(integerDigits - count), '0');
        } else {
            out.append(digits, integerDigits);
            out += '.';
            out.append(digits + integerDigits, count - integerDigits);
        }
    }
    return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

QString FormatThousands(qint64 value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(value);
}
