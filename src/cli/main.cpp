#include "cli/CommandLine.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const TCliParse parse = ParseCommandLine(QCoreApplication::arguments());
    if (!parse.Options) {
        std::fputs(parse.Text.toUtf8().constData(), parse.ExitCode == 0 ? stdout : stderr);
        return parse.ExitCode;
    }
    std::fputs("trazbit-cli: conversion is not available yet\n", stderr);
    return 1;
}
