// A process that fetches one URL into one file, for tests that kill a writer mid-transfer.
// Usage: fetch_child URL FILE. Exit status 0 when the file was written, 1 otherwise.
#include "pelagrin/fetch.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: fetch_child URL FILE\n", stderr);
        return 2;
    }
    pelagrin::Fetcher fetcher;
    QByteArray body;
    try {
        fetcher.download(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), body);
    } catch (const common::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
    return 0;
}
