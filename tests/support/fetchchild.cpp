// A process that fetches one URL into one file, for tests that kill a writer mid-transfer.
// Usage: fetch_child URL FILE. Exit status 0 when the file was written, 1 otherwise.
#include "fetchwait.h"

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
    const testsupport::FetchSeen result = testsupport::fetchAndWait(
        fetcher, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    if (result.failure) {
        std::fprintf(stderr, "%s\n", result.failure->text.c_str());
        return 1;
    }
    return 0;
}
