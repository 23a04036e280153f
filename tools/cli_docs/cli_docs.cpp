#include "cli_docs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace qvdocs {
namespace {

// ---- The definition, as both outputs need it ---------------------------

struct Entry {
    std::string term;
    std::string text;
};

// A footer section: a heading and its entries (an empty term: a paragraph).
struct Section {
    std::string heading;
    std::vector<Entry> entries;
};

bool Visible(const CLI::Option* o) { return !o->get_group().empty(); }

bool TakesValue(const CLI::Option* o) { return o->get_items_expected_max() > 0; }

// The named subcommands shown in --help, in their order of definition.
std::vector<const CLI::App*> Commands(const CLI::App& app) {
    return app.get_subcommands(
        [](const CLI::App* s) { return !s->get_name().empty() && !s->get_group().empty(); });
}

// An App's options, those of its unnamed option groups included.
std::vector<const CLI::Option*> Options(const CLI::App& app) {
    std::vector<const CLI::Option*> out = app.get_options(Visible);
    for (const CLI::App* group :
         app.get_subcommands([](const CLI::App* s) { return s->get_name().empty(); })) {
        const auto more = Options(*group);
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

// The validators' own descriptions ("{a,b}", "INT in [1 - 65535]"). CLI11
// shows them only appended to the type name, which may hold colons itself.
std::vector<std::string> Validations(const CLI::Option* o) {
    // get_validator(int) has no const overload; it changes nothing.
    auto* option = const_cast<CLI::Option*>(o);
    std::vector<std::string> out;
    for (int i = 0;; ++i) {
        try {
            if (std::string d = option->get_validator(i)->get_description(); !d.empty()) {
                out.push_back(std::move(d));
            }
        } catch (const CLI::OptionNotFound&) {
            return out;
        }
    }
}

// "NAME[:PARTITION]", "UINT": the type name without the validators; a
// positional's name.
std::string Metavar(const CLI::Option* o) {
    if (!o->nonpositional()) return o->get_name(true);
    std::string type = o->get_type_name();
    const auto validations = Validations(o);
    for (auto d = validations.rbegin(); d != validations.rend(); ++d) {
        if (type.ends_with(":" + *d)) type.resize(type.size() - d->size() - 1);
    }
    return type;
}

// What the validators accept; empty when anything of the type goes.
std::string Accepts(const CLI::Option* o) {
    std::string out;
    for (const auto& d : Validations(o)) {
        if (d != Metavar(o)) out += (out.empty() ? "" : ", ") + d;
    }
    return out;
}

// The values of a set or a map the option is checked against: "a" and "b"
// of "{a,b}" or of "{a->1,b->2}".
std::vector<std::string> Choices(const CLI::Option* o) {
    const std::string accepts = Accepts(o);
    const std::size_t open = accepts.find('{');
    const std::size_t close = accepts.find('}', open);
    std::vector<std::string> out;
    if (open == std::string::npos || close == std::string::npos) return out;
    std::istringstream items(accepts.substr(open + 1, close - open - 1));
    for (std::string item; std::getline(items, item, ',');) {
        item = item.substr(0, item.find("->"));
        if (!item.empty()) out.push_back(item);
    }
    return out;
}

std::vector<std::string> Names(const CLI::Option* o) {
    std::vector<std::string> out;
    for (const auto& s : o->get_snames()) out.push_back("-" + s);
    for (const auto& l : o->get_lnames()) out.push_back("--" + l);
    return out;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The footer in sections; the paragraphs without a heading come first,
// under an empty heading.
std::vector<Section> FooterSections(const std::string& footer) {
    std::vector<Section> out{{"", {}}};
    std::istringstream lines(footer);
    bool paragraph_start = true;
    for (std::string line; std::getline(lines, line);) {
        if (Trim(line).empty()) {
            paragraph_start = true;
            continue;
        }
        const bool indented = line[0] == ' ' || line[0] == '\t';
        if (paragraph_start && !indented && line.back() == ':') {
            out.push_back({line.substr(0, line.size() - 1), {}});
        } else {
            if (paragraph_start && !indented && !out.back().heading.empty())
                out.push_back({"", {}});
            auto& entries = out.back().entries;
            const std::string text = Trim(line);
            const std::size_t gap = text.find("  ");
            if (indented && gap != std::string::npos) {
                entries.push_back({text.substr(0, gap), Trim(text.substr(gap))});
            } else if (!entries.empty() && (indented || !paragraph_start)) {
                entries.back().text += " " + text;
            } else {
                entries.push_back({"", text});
            }
        }
        paragraph_start = false;
    }
    return out;
}

// "manage the disks" of "qvctl: manage the disks".
std::string Summary(const CLI::App& app, const std::string& name) {
    const std::string description = app.get_description();
    return description.rfind(name + ": ", 0) == 0 ? description.substr(name.size() + 2)
                                                  : description;
}

// ---- roff ----------------------------------------------------------------

// Text for a roff line: backslashes escaped, and a leading dot or quote
// kept from reading as a request.
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\\' ? std::string("\\e") : std::string(1, c);
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

// Option and command names: their hyphens are minus signs, which a reader
// can copy to a shell.
std::string Literal(const std::string& text) {
    std::string out;
    for (char c : Roff(text)) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

// A description as a sentence: a capital first letter, a full stop.
std::string Sentence(std::string s) {
    if (!s.empty()) s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    if (!s.empty() && s.back() != '.' && s.back() != '!' && s.back() != '?') s += '.';
    return s;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

void TaggedParagraph(std::ostream& out, const std::string& tag, const std::string& text) {
    out << ".TP\n" << tag << "\n" << Roff(Sentence(text)) << "\n";
}

void OptionParagraphs(std::ostream& out, const std::vector<const CLI::Option*>& options) {
    for (const CLI::Option* o : options) {
        std::string tag;
        if (o->nonpositional()) {
            const auto names = Names(o);
            for (std::size_t i = 0; i < names.size(); ++i) {
                tag += (i == 0 ? "" : ", ") + std::string("\\fB") + Literal(names[i]) + "\\fR";
            }
            if (TakesValue(o)) tag += " \\fI" + Roff(Metavar(o)) + "\\fR";
        } else {
            tag = "\\fI" + Roff(Metavar(o)) + "\\fR";
        }
        std::string text = Sentence(o->get_description());
        if (const std::string accepts = Accepts(o); !accepts.empty()) {
            text += " Accepts " + accepts + ".";
        }
        if (!o->get_default_str().empty()) text += " Default: " + o->get_default_str() + ".";
        if (!o->get_envname().empty()) text += " Environment: " + o->get_envname() + ".";
        if (o->get_required()) text += " Required.";
        TaggedParagraph(out, tag, text);
    }
}

// "qvctl mirror stat [OPTION]... NAME NUMBER" or "... COMMAND".
std::string Synopsis(const CLI::App& app, const std::string& path) {
    std::string out = "\\fB" + Literal(path) + "\\fR";
    if (!app.get_options(Visible).empty()) out += " [\\fIOPTION\\fR]...";
    for (const CLI::Option* o : Options(app)) {
        if (!o->nonpositional()) out += " \\fI" + Roff(Metavar(o)) + "\\fR";
    }
    if (!Commands(app).empty()) {
        out += app.get_require_subcommand_min() > 0 ? " \\fICOMMAND\\fR ..."
                                                    : " [\\fICOMMAND\\fR ...]";
    }
    return out;
}

void CommandSections(std::ostream& out, const CLI::App& app, const std::string& path) {
    for (const CLI::App* sub : Commands(app)) {
        const std::string sub_path = path + " " + sub->get_name();
        out << ".SS \"" << Synopsis(*sub, sub_path) << "\"\n"
            << Roff(Sentence(sub->get_description())) << "\n";
        OptionParagraphs(out, Options(*sub));
        CommandSections(out, *sub, sub_path);
    }
}

void CollectEnvironment(const CLI::App& app, std::map<std::string, std::string>& out) {
    for (const CLI::Option* o : Options(app)) {
        if (!o->get_envname().empty()) {
            out.emplace(o->get_envname(),
                        "The value of " + Names(o).back() + ": " + o->get_description() + ".");
        }
    }
    for (const CLI::App* sub : Commands(app)) CollectEnvironment(*sub, out);
}

// ---- bash ----------------------------------------------------------------

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

// Per command path ("qvctl mirror"): its subcommands, the options it takes
// (those it passes on to its parent included), which of them take a value,
// and the choices of each that has them.
struct CompletionTables {
    std::vector<std::pair<std::string, std::string>> commands, options, valued, choices;

    void Add(const CLI::App& app, const std::string& path,
             std::vector<std::string> inherited_options,
             std::vector<std::string> inherited_valued) {
        std::vector<std::string> subs, opts, vals;
        for (const CLI::App* sub : Commands(app)) {
            subs.push_back(sub->get_name());
            for (const auto& alias : sub->get_aliases()) subs.push_back(alias);
        }
        for (const CLI::Option* o : Options(app)) {
            for (const auto& name : Names(o)) {
                opts.push_back(name);
                if (TakesValue(o)) vals.push_back(name);
                if (const auto c = Choices(o); !c.empty())
                    choices.emplace_back(path + "|" + name, Joined(c));
            }
        }
        if (app.get_fallthrough()) {
            for (const auto& name : inherited_options) {
                if (std::find(opts.begin(), opts.end(), name) != opts.end()) continue;
                opts.push_back(name);
                if (std::count(inherited_valued.begin(), inherited_valued.end(), name)) {
                    vals.push_back(name);
                }
            }
        }
        commands.emplace_back(path, Joined(subs));
        options.emplace_back(path, Joined(opts));
        valued.emplace_back(path, Joined(vals));
        for (const CLI::App* sub : Commands(app))
            Add(*sub, path + " " + sub->get_name(), opts, vals);
    }
};

void Table(std::ostream& out, const char* name,
           const std::vector<std::pair<std::string, std::string>>& rows) {
    out << "    local -A " << name << "=(\n";
    for (const auto& [key, value] : rows)
        out << "        [" << Quoted(key) << "]=" << Quoted(value) << "\n";
    out << "    )\n";
}

bool WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    if (file) return true;
    std::cerr << "cannot write " << path << "\n";
    return false;
}

}  // namespace

std::string ManPage(const CLI::App& app, std::string_view version, std::string_view more_footer) {
    const std::string name = app.get_name();
    std::vector<Section> sections =
        FooterSections(app.get_footer() + "\n\n" + std::string(more_footer));
    const auto take = [&sections](const std::string& heading) {
        Section found{heading, {}};
        for (auto it = sections.begin(); it != sections.end();) {
            if (Upper(it->heading) != heading) {
                ++it;
                continue;
            }
            found.entries.insert(found.entries.end(), it->entries.begin(), it->entries.end());
            it = sections.erase(it);
        }
        return found;
    };
    const auto body = [](std::ostream& out, const std::vector<Entry>& entries) {
        for (const Entry& e : entries) {
            if (e.term.empty()) {
                out << ".PP\n" << Roff(e.text) << "\n";
            } else {
                TaggedParagraph(out, "\\fB" + Literal(e.term) + "\\fR", e.text);
            }
        }
    };

    std::ostringstream out;
    out << ".\\\" Written by " << name << " --generate-man from its command-line definition.\n"
        << ".TH " << Literal(Upper(name)) << " 1 \"\" \"" << Roff(name) << " "
        << Roff(std::string(version)) << "\" \"User Commands\"\n"
        << ".SH NAME\n"
        << Literal(name) << " \\- " << Roff(Summary(app, name)) << "\n"
        << ".SH SYNOPSIS\n"
        << Synopsis(app, name) << "\n"
        << ".SH DESCRIPTION\n";
    const Section description = take("");
    body(out, description.entries.empty() ? std::vector<Entry>{{"", Sentence(Summary(app, name))}}
                                          : description.entries);
    out << ".SH OPTIONS\n";
    OptionParagraphs(out, Options(app));
    if (!Commands(app).empty()) {
        out << ".SH COMMANDS\n";
        CommandSections(out, app, name);
    }

    out << ".SH \"EXIT STATUS\"\n";
    const Section exit_status = take("EXIT STATUS");
    if (exit_status.entries.empty()) {
        body(out, {{"0", "Success."},
                   {"2", "The command line was wrong."},
                   {"", "Any other status but 0: the command failed."}});
    }
    body(out, exit_status.entries);

    out << ".SH ENVIRONMENT\n";
    std::map<std::string, std::string> environment;
    CollectEnvironment(app, environment);
    for (const auto& [variable, text] : environment) {
        TaggedParagraph(out, "\\fB" + Roff(variable) + "\\fR", text);
    }
    body(out, take("ENVIRONMENT").entries);

    const Section files = take("FILES");
    out << ".SH FILES\n";
    body(out, files.entries.empty() ? std::vector<Entry>{{"", "None."}} : files.entries);

    for (const Section& s : sections) {
        out << ".SH \"" << Roff(Upper(s.heading)) << "\"\n";
        body(out, s.entries);
    }
    return out.str();
}

std::string BashCompletion(const CLI::App& app) {
    const std::string name = app.get_name();
    std::string function = "_" + name;
    std::replace_if(
        function.begin(), function.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    CompletionTables tables;
    tables.Add(app, name, {}, {});

    std::ostringstream out;
    out << "# bash completion for " << name << ", written by " << name
        << " --generate-bash-completion\n# from its command-line definition.\n"
        << function << "() {\n";
    Table(out, "commands", tables.commands);
    Table(out, "options", tables.options);
    Table(out, "valued", tables.valued);
    Table(out, "choices", tables.choices);
    // The words before the cursor choose the command path; an option that
    // takes a value takes the word after it along.
    out << R"(    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local path=)"
        << Quoted(name) << R"( i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ " ${valued[$path]} " == *" $word "* ]]; then
            ((i++))
        elif [[ " ${commands[$path]} " == *" $word "* ]]; then
            path+=" $word"
        fi
    done
    if ((COMP_CWORD > 1)) && [[ " ${valued[$path]} " == *" $prev "* ]]; then
        if [[ -n ${choices[$path|$prev]+set} ]]; then
            mapfile -t COMPREPLY < <(compgen -W "${choices[$path|$prev]}" -- "$cur")
        else
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
    elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${options[$path]}" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -W "${commands[$path]}" -- "$cur")
    fi
}
complete -F )"
        << function << " " << name << "\n";
    return out.str();
}

std::optional<int> HandleGenerateRequest(const CLI::App& app, int argc, const char* const* argv,
                                         std::string_view more_footer) {
    if (argc != 3) return std::nullopt;
    const std::string request = argv[1];
    if (request != "--generate-man" && request != "--generate-bash-completion") return std::nullopt;
    if (app.get_name().empty()) {
        std::cerr << request << ": the command-line definition has no program name\n";
        return 1;
    }
    const std::string content = request == "--generate-man"
                                    ? ManPage(app, QV_PACKAGE_VERSION, more_footer)
                                    : BashCompletion(app);
    return WriteFile(argv[2], content) ? 0 : 1;
}

}  // namespace qvdocs
