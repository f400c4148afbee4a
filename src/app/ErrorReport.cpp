#include "app/ErrorReport.h"
#include "base/Messages.h"

#include "base/Errors.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace {

TErrorReporter &Reporter()
{
    static TErrorReporter reporter;
    return reporter;
}

} // namespace

QString ErrorText(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const ETrazbitError *>(&error))
        return own->Message();
    if (dynamic_cast<const std::bad_alloc *>(&error))
        return Messages::OutOfMemory();
    return QString::fromUtf8(error.what());
}

void ReportError(const QString &text)
{
    if (Reporter()) {
        Reporter()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void ReportException(const std::exception &error)
{
    ReportError(ErrorText(error));
}

TErrorReporter SetErrorReporter(TErrorReporter reporter)
{
    return std::exchange(Reporter(), std::move(reporter));
}
