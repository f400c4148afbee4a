#include "app/TrazbitApplication.h"

#include "app/ErrorReport.h"
#include "dialogs/ProgramIcon.h"

#include <exception>

TTrazbitApplication::TTrazbitApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Trazbit"));
    setWindowIcon(ProgramIcon());
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
