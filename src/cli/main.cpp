#include "app/Version.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("trazbit-cli " TRAZBIT_VERSION_TEXT "\n");
            return 0;
        }
    }
    std::printf("Usage: trazbit-cli [options] INPUT...\n");
    return argc > 1 ? 2 : 0;
}
