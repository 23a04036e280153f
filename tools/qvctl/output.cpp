// What qvctl writes: JSON lines, tables, fields and progress.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

// Characters on the screen: code points, not bytes.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::size_t w = Width(text);
    if (w >= width) return text;
    const std::string fill(width - w, ' ');
    return right ? fill + text : text + fill;
}

}  // namespace

void PrintJson(const json& value) {
    std::cout << value.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
    std::cout.flush();
}

void Table::AlignRight(std::size_t column) {
    if (right_.size() <= column) right_.resize(column + 1, false);
    right_[column] = true;
}

void Table::Print() const {
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
    }
    for (const auto& row : rows_) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const bool right = i < right_.size() && right_[i];
            const bool last = i + 1 == row.size();
            line += last && !right ? row[i] : Pad(row[i], widths[i], right);
            if (!last) line += "  ";
        }
        std::cout << line << '\n';
    }
}

void PrintFields(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::size_t width = 0;
    for (const auto& [label, value] : fields) width = std::max(width, Width(label) + 1);
    for (const auto& [label, value] : fields) {
        std::cout << Pad(label + ":", width, false) << "  " << value << '\n';
    }
}

ProgressView::ProgressView(bool json, std::string label)
    : json_(json), terminal_(!json && isatty(STDOUT_FILENO) == 1), label_(std::move(label)) {}

ProgressView::~ProgressView() { Finish(); }

void ProgressView::Update(unsigned percent, const std::string& state, const json& sample) {
    percent = std::min(percent, 100u);
    const bool changed = !last_ || last_->first != percent || last_->second != state;
    // Plain lines come in steps of a tenth, to keep logs short.
    const bool step = !last_ || last_->first / 10 != percent / 10 || last_->second != state;
    if (json_) {
        if (changed) PrintJson(sample);
    } else if (terminal_) {
        constexpr unsigned kBarWidth = 30;
        const unsigned filled = percent * kBarWidth / 100;
        std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '.');
        std::printf("\r%s [%s] %3u%% %-16s", label_.c_str(), bar.c_str(), percent, state.c_str());
        std::fflush(stdout);
        bar_open_ = true;
    } else if (step) {
        std::printf("%s: %u%% %s\n", label_.c_str(), percent, state.c_str());
        std::fflush(stdout);
    }
    if (json_ || terminal_ || step) last_ = std::make_pair(percent, state);
}

void ProgressView::Finish() {
    if (bar_open_) {
        std::printf("\n");
        std::fflush(stdout);
        bar_open_ = false;
    }
}

void Done(const Globals& globals, const std::string& operation, const std::string& object,
          const std::string& sentence) {
    if (globals.json) {
        json out = {{"operation", operation}, {"status", Hex8(QV_STATUS_SUCCESS)}};
        if (!object.empty()) out["object"] = object;
        PrintJson(out);
    } else {
        std::cout << sentence << '\n';
    }
}

const Commands::Action* Commands::Chosen() const {
    const Action* chosen = nullptr;
    int depth = -1;
    for (const auto& [app, action] : actions_) {
        if (!app->parsed()) continue;
        int d = 0;
        for (const CLI::App* p = app->get_parent(); p != nullptr; p = p->get_parent()) ++d;
        if (d > depth) {
            depth = d;
            chosen = &action;
        }
    }
    return chosen;
}

}  // namespace qvctl
