#pragma once

#include "pelagrin/fetch.h"

#include <QEventLoop>

#include <optional>

namespace testsupport {

// Fetches |url| into |path| (a GIF of |picture|'s size, when given) and waits for the end, as
// only a test may: the downloader itself never waits for the network.
inline pelagrin::FetchResult fetchAndWait(pelagrin::Fetcher& fetcher, const QString& url,
                                          const QString& path, QSize picture = {})
{
    std::optional<pelagrin::FetchResult> result;
    QEventLoop loop;
    auto transfer = fetcher.download(
        url, path,
        [&](pelagrin::FetchResult r) {
            result = std::move(r);
            loop.quit();
        },
        {}, {}, picture);
    if (!transfer) {
        return {transfer.error(), false, {}};
    }
    if (!result) {
        loop.exec();
    }
    return std::move(*result);
}

} // namespace testsupport
