// What qvctl writes while it works: JSON lines, progress, and Ctrl-C.
//
// Progress goes to stderr and only when stderr is a terminal, so stdout
// stays the same for scripts whether or not a person watches.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

volatile sig_atomic_t g_interrupted = 0;
struct sigaction g_previous {};

void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

void PrintJson(const json& value) {
    std::cout << value.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
    std::cout.flush();
}

InterruptScope::InterruptScope() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a sleep ends at once
    sigaction(SIGINT, &action, &g_previous);
}

InterruptScope::~InterruptScope() { sigaction(SIGINT, &g_previous, nullptr); }

bool InterruptRequested() { return g_interrupted != 0; }

bool Pause(std::chrono::milliseconds d) {
    if (g_interrupted != 0) return false;
    const timespec ts{static_cast<time_t>(d.count() / 1000),
                      static_cast<long>(d.count() % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
    return g_interrupted == 0;
}

std::optional<uint64_t> SecondsLeft(uint64_t done, uint64_t total, std::optional<uint64_t> rate) {
    if (!rate || *rate == 0) return std::nullopt;
    const uint64_t left = total > done ? total - done : 0;
    return (left + *rate - 1) / *rate;
}

ProgressView::ProgressView(const Globals& globals, std::string label)
    : json_(globals.json),
      terminal_(!globals.json && Terminal(STDERR_FILENO)),
      label_(std::move(label)) {}

ProgressView::~ProgressView() { Finish(); }

void ProgressView::Update(const Sample& sample) {
    const unsigned percent = std::min(sample.percent, 100u);
    const bool changed = !last_ || last_->first != percent || last_->second != sample.state;
    last_ = std::make_pair(percent, sample.state);
    if (json_) {
        if (changed) PrintJson(sample.data);
        return;
    }
    if (!terminal_) return;

    // The record's own rate, else the one measured since the first sample.
    const auto now = std::chrono::steady_clock::now();
    if (!first_) first_ = std::make_pair(now, sample.done);
    std::optional<uint64_t> rate = sample.rate;
    const double seconds = std::chrono::duration<double>(now - first_->first).count();
    if (!rate && seconds >= 1 && sample.done > first_->second) {
        rate = static_cast<uint64_t>(static_cast<double>(sample.done - first_->second) / seconds);
    }
    constexpr unsigned kBarWidth = 24;
    const unsigned filled = percent * kBarWidth / 100;
    std::string line = "\r" + label_ + " [" + std::string(filled, '#') +
                       std::string(kBarWidth - filled, '.') + "] " + std::to_string(percent) +
                       "% " + sample.state;
    if (sample.total > 0) line += "  " + BytesText(sample.done) + " of " + BytesText(sample.total);
    if (sample.running && rate) line += "  " + BytesText(*rate) + "/s";
    if (const auto left = SecondsLeft(sample.done, sample.total, rate); sample.running && left) {
        line += "  " + SecondsText(*left) + " left";
    }
    std::cerr << line << "\033[K" << std::flush;
    bar_open_ = true;
}

void ProgressView::Finish() {
    if (bar_open_) {
        std::cerr << '\n' << std::flush;
        bar_open_ = false;
    }
}

}  // namespace qvctl
