// Scrapes under a deadline: each runs on a thread of its own so that a
// service that stops answering (a call waits up to a minute) costs the
// caller no more than its timeout. The scrapes still running are bounded;
// past the bound a scrape answers at once that the service is down.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "collector.h"

namespace qvexp {

class Scraper {
  public:
    Scraper(Login login, std::size_t max_running) : login_(std::move(login)), max_(max_running) {}

    // The exposition for `target`, or quarvane_up 0 once `timeout` has passed.
    std::string Run(const Target& target, std::chrono::duration<double> timeout);

    // Scrapes still running, also those whose caller has stopped waiting.
    std::size_t running() const { return running_->load(); }

  private:
    Login login_;
    std::size_t max_;
    std::shared_ptr<std::atomic<std::size_t>> running_ =
        std::make_shared<std::atomic<std::size_t>>(0);
};

// How long a scrape may take: what Prometheus says it waits
// (X-Prometheus-Scrape-Timeout-Seconds) less a margin for the answer to
// travel, never more than `limit`.
std::chrono::duration<double> ScrapeTimeout(const std::string& header,
                                            std::chrono::duration<double> limit);

}  // namespace qvexp
