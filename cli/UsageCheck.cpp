#include "UsageCheck.h"

#include <algorithm>
#include <vector>

namespace {

std::size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The nearest name, when it is near enough to be a typing slip.
std::string Nearest(const std::string& word, const std::vector<std::string>& names)
{
    std::string best;
    std::size_t bestDistance = 3;
    for (const std::string& name : names) {
        std::size_t d = EditDistance(word, name);
        if (d < bestDistance) {
            best = name;
            bestDistance = d;
        }
    }
    return best;
}

struct Scope {
    std::vector<std::string> names;            // "--port", "-h"
    std::vector<const CLI::Option*> options;
};

Scope OptionsOf(const CLI::App& app)
{
    Scope scope;
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional())
            continue;
        scope.options.push_back(option);
        for (const std::string& n : option->get_lnames())
            scope.names.push_back("--" + n);
        for (const std::string& n : option->get_snames())
            scope.names.push_back("-" + n);
    }
    return scope;
}

const CLI::Option* Find(const Scope& scope, const std::string& name)
{
    for (const CLI::Option* option : scope.options)
        if (name.size() > 2 && name[1] == '-' ? option->check_lname(name.substr(2))
                                              : name.size() > 1 && option->check_sname(name.substr(1)))
            return option;
    return nullptr;
}

}  // namespace

std::string UsageProblem(CLI::App& app, int argc, const char* const* argv)
{
    std::vector<std::string> commands;
    for (const CLI::App* sub : app.get_subcommands({}))
        commands.push_back(sub->get_name());

    const CLI::App* current = &app;
    Scope scope = OptionsOf(app);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg.size() > 1 && arg[0] == '-') {
            const std::string name = arg.substr(0, arg.find('='));
            const CLI::Option* option = Find(scope, name);
            if (!option) {
                std::string where = current == &app ? "" : " for " + current->get_name();
                std::string guess = Nearest(name, scope.names);
                return "unknown option " + name + where + (guess.empty() ? "" : "; did you mean " + guess + "?");
            }
            if (option->get_expected_min() > 0 && name == arg)
                ++i;  // its value
            continue;
        }
        if (current != &app)
            continue;  // a positional argument of the command
        const CLI::App* sub = nullptr;
        for (const CLI::App* candidate : app.get_subcommands({}))
            if (candidate->get_name() == arg)
                sub = candidate;
        if (!sub) {
            std::string list;
            for (const std::string& c : commands)
                list += (list.empty() ? "" : ", ") + c;
            std::string guess = Nearest(arg, commands);
            return "unknown command \"" + arg + "\"" + (guess.empty() ? "" : "; did you mean " + guess + "?") +
                   "\nThe commands are: " + list;
        }
        current = sub;
        scope = OptionsOf(*sub);
    }
    return {};
}
