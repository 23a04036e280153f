#include "exposition.h"

#include <charconv>
#include <cmath>

namespace qvexp {

void AppendEscaped(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
}

void Exposition::Family(std::string_view name, std::string_view help, Type type) {
    name_ = name;
    text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text_.append("# TYPE ").append(name).append(type == Type::kCounter ? " counter\n" : " gauge\n");
}

void Exposition::Labels(std::initializer_list<Label> labels) {
    text_ += name_;
    if (labels.size() == 0) return;
    char sep = '{';
    for (const auto& [key, value] : labels) {
        text_ += sep;
        text_.append(key).append("=\"");
        AppendEscaped(text_, value);
        text_ += '"';
        sep = ',';
    }
    text_ += '}';
}

void Exposition::Sample(std::initializer_list<Label> labels, uint64_t value) {
    Labels(labels);
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(" ").append(digits, end).append("\n");
}

void Exposition::Sample(std::initializer_list<Label> labels, double value) {
    Labels(labels);
    text_ += ' ';
    if (std::isnan(value)) {
        text_ += "NaN";
    } else if (std::isinf(value)) {
        text_ += value > 0 ? "+Inf" : "-Inf";
    } else {
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        text_.append(digits, end);
    }
    text_ += '\n';
}

void Exposition::Single(std::string_view name, std::string_view help, Type type, double value) {
    Family(name, help, type);
    Sample({}, value);
}

}  // namespace qvexp
