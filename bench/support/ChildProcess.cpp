#include "ChildProcess.h"

#include <QElapsedTimer>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

TChildRun RunChild(const QString &program, const QStringList &arguments)
{
    TChildRun run;
    std::vector<QByteArray> texts{program.toLocal8Bit()};
    for (const QString &a : arguments)
        texts.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.Seconds = timer.nsecsElapsed() / 1e9;
    run.PeakMB = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
    run.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                     + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

#else
#include <QProcess>

TChildRun RunChild(const QString &program, const QStringList &arguments)
{
    TChildRun run;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.Seconds = timer.nsecsElapsed() / 1e9;
    run.ExitCode = process.exitCode();
    return run;
}
#endif
