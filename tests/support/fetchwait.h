#pragma once

#include "pelagrin/fetch.h"

#include <QEventLoop>

#include <optional>

namespace testsupport {

// What a test saw of one fetch: how it ended, whether the whole picture arrived (the fetcher
// said so before writing it) and whether the file is in place.
struct FetchSeen {
    std::optional<common::Error> failure;
    bool arrived = false;
    bool stored = false;
};

inline FetchSeen seen(const common::Status& ended, bool arrived)
{
    if (ended) {
        return {std::nullopt, arrived, true};
    }
    return {ended.error(), arrived, ended.error().kind == common::ErrorKind::NotPlaced};
}

// Fetches |url| into |path| (a GIF of |picture|'s size, when given) and waits for the end, as
// only a test may: the downloader itself never waits for the network.
inline FetchSeen fetchAndWait(pelagrin::Fetcher& fetcher, const QString& url, const QString& path,
                              QSize picture = {})
{
    std::optional<FetchSeen> result;
    bool arrived = false;
    QEventLoop loop;
    auto transfer = fetcher.download(
        url, path,
        [&](const common::Status& ended) {
            result = seen(ended, arrived);
            loop.quit();
        },
        [&] { arrived = true; }, {}, picture);
    if (!transfer) {
        return {transfer.error(), false, false};
    }
    if (!result) {
        loop.exec();
    }
    return std::move(*result);
}

} // namespace testsupport
