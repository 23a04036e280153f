// The manual page and the bash completion of a command-line tool, written
// from its CLI11 definition, so that neither can fall behind the options the
// tool really takes. The build runs each tool once with a request:
//
//   TOOL --generate-man FILE              a roff manual page, section 1
//   TOOL --generate-bash-completion FILE  a script for bash-completion
//
// Each tool calls HandleGenerateRequest right after its CLI::App is built
// and before it parses anything. Neither request is an option of the App, so
// neither appears in --help nor in what is generated.
//
// What CLI11 has no field for comes from the App's footer, which --help
// shows too. A footer paragraph whose first line is a heading ("Exit
// status:", "Files:", "Environment:", or any other) becomes a section of the
// manual page; its indented lines "TERM  text" (two spaces apart) become
// tagged paragraphs, an indented line without a term continues the text
// before it. Other footer paragraphs go to DESCRIPTION. The environment
// variables options read (CLI11's envname) are listed under ENVIRONMENT
// without being repeated in the footer.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace qvdocs {

// The exit status when argv is one of the requests above (the file written,
// or an error on stderr), nothing when it is not. `more_footer`, in the
// footer's form, is for the manual page only: what the page must say but
// --help need not.
std::optional<int> HandleGenerateRequest(const CLI::App& app, int argc, const char* const* argv,
                                         std::string_view more_footer = {});

// The manual page of `app`, which must carry its program name; `version`
// goes into the page's footer line.
std::string ManPage(const CLI::App& app, std::string_view version,
                    std::string_view more_footer = {});

// A bash script that completes the App's subcommands at any depth, their
// options and the choices of options that take one of a set of values.
std::string BashCompletion(const CLI::App& app);

}  // namespace qvdocs
