// The Prometheus text exposition format, as much of it as the exporter
// writes: a family's HELP and TYPE lines, then its samples, each a name,
// optional labels and a value.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace qvexp {

enum class Type { kGauge, kCounter };

using Label = std::pair<std::string_view, std::string_view>;

class Exposition {
  public:
    // Starts a family; the samples that follow until the next family are
    // its own and carry its name.
    void Family(std::string_view name, std::string_view help, Type type);
    void Sample(std::initializer_list<Label> labels, double value);
    void Sample(std::initializer_list<Label> labels, uint64_t value);
    // A family of one sample without labels.
    void Single(std::string_view name, std::string_view help, Type type, double value);

    const std::string& text() const noexcept { return text_; }
    std::string Take() { return std::move(text_); }

  private:
    void Labels(std::initializer_list<Label> labels);

    std::string text_;
    std::string name_;
};

// A label value as the format wants it between its quotes: backslash,
// double quote and line feed escaped.
void AppendEscaped(std::string& out, std::string_view value);

}  // namespace qvexp
